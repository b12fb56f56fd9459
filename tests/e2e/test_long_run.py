#!/usr/bin/env python3
"""A long run: more than two whole cycles of the catalogue with a 1-second
switch interval. Each picture's palette must replace and delete the one before,
so that the GDI objects the saver holds do not grow, and every picture's
memory and temporary file must be given back.

Wine's GetGuiResources is a stub that answers 0, so the objects are counted
from the saver's own calls as Wine's relay log records them: every call that
creates a GDI object and every call that deletes one, with their results."""

import os
import time

import harness
import relay_trace
from harness import SAVER_CLASS, SessionTest

PICTURES = 61  # the catalogue twice and one more: the order wraps around twice
DIB_BYTES = 640 * 480 * 3
PER_PICTURE_LIMIT = 3.0  # seconds; a picture takes about 1.1 under the relay log


class LongRun(SessionTest):
    screen = (1024, 768)

    def tearDown(self):
        super().tearDown()
        relay_trace.stop_tracing(self.session)

    def test_palettes_replace_each_other_and_gdi_objects_do_not_grow(self):
        s = self.session
        harness.set_settings(s, t1=1, t2=0, t4=0, t6=0)
        traced = (relay_trace.GDI_CREATORS + relay_trace.GDI_DELETERS + relay_trace.PALETTE_CALLS +
                  relay_trace.FILE_CALLS + relay_trace.MEMORY_CALLS + ["user32.GetDC", "user32.ReleaseDC"])
        proc, log = relay_trace.start_traced_saver(s, traced, "/s")
        window = harness.wait_window(s, SAVER_CLASS, "Screen Saver", timeout=30)
        self.assertIsNotNone(window)

        # The lookup of picture PICTURES + 1 means that picture PICTURES has been shown.
        deadline = time.monotonic() + PICTURES * PER_PICTURE_LIMIT
        while len(relay_trace.picture_numbers(relay_trace.saver_calls(log))) <= PICTURES:
            self.assertIsNone(proc.poll(), "the saver ended during the run")
            self.assertLess(time.monotonic(), deadline, "the run is too slow")
            time.sleep(2)
        self.close_with_key(proc, window)
        calls = relay_trace.saver_calls(log)

        self.assertEqual(relay_trace.picture_numbers(calls)[:PICTURES + 1],
                         (list(range(1, 31)) * 3)[:PICTURES + 1], "catalogue order")

        gdi = relay_trace.GdiBalance()
        memory = relay_trace.MemoryBalance(DIB_BYTES)
        held, dcs_out, palettes, files_deleted = [], 0, [], 0
        for call in calls:
            if call.name == "kernel32.FindResourceA" and palettes:
                # Between pictures: what the previous one left behind.
                held.append(len(gdi.live))
                # The next-picture step has taken the window's DC before the lookup.
                self.assertEqual(dcs_out, 1, f"device contexts not released before picture {len(held) + 1}")
            gdi.feed(call)
            memory.feed(call)
            if call.name == "user32.GetDC":
                dcs_out += 1
            elif call.name == "user32.ReleaseDC":
                dcs_out -= 1
            elif call.name == "gdi32.CreatePalette":
                self.assertTrue(call.retval, "CreatePalette failed")
                palettes.append(call.retval)
            elif call.name == "gdi32.SelectPalette":
                self.assertEqual(call.arg(1), palettes[-1], "the new palette is selected")
                if len(palettes) > 1:
                    self.assertEqual(call.retval, palettes[-2], "it replaces the previous picture's palette")
                replaced = call.retval
            elif call.name == "gdi32.DeleteObject" and len(palettes) > 1:
                self.assertEqual(call.arg(0), replaced, "the replaced palette is deleted")
                self.assertTrue(call.retval, "deleting the replaced palette failed")
            elif call.name == "kernel32.DeleteFileA" and call.retval:
                files_deleted += 1

        self.assertGreaterEqual(len(held), PICTURES)
        self.assertEqual(dcs_out, 0, "device contexts not released at the end")
        self.assertEqual(gdi.failed_deletes, [])
        self.assertEqual(set(held), {1}, "GDI objects held between pictures: only the current palette")
        self.assertGreaterEqual(len(palettes), PICTURES)
        self.assertEqual(gdi.deleted, gdi.created - 1)
        self.assertEqual((memory.bad_frees, memory.live), ([], set()), "picture memory released once each")
        self.assertEqual(memory.freed, memory.allocated)
        self.assertGreaterEqual(files_deleted, PICTURES, "the temporary file removed after each decode")

        figure = (f"GDI objects held by the saver's own calls between pictures: {held[0]} after picture 1, "
                  f"{held[PICTURES - 1]} after picture {PICTURES}, at most {max(held)}; "
                  f"{gdi.created} created and {gdi.deleted} deleted while {len(palettes)} pictures were prepared")
        with open(os.path.join(harness.ARTEFACTS, "slideshow-gdi-objects.txt"), "w") as f:
            f.write(figure + "\n")
        print(figure)


if __name__ == "__main__":
    harness.main()
