#!/usr/bin/env python3
"""Each picture's way through the temporary file and memory, seen from the
file system, the screen and the saver's own calls (Wine's relay log): the file
exists only from the extraction to the end of the decode; a stale file under
its name is replaced; a folder under its name makes the extraction fail (the
decoder never reads it), and the saver says so (in Japanese also on an English
system), halts, and still closes; a close mid-reveal releases the picture once,
and a close while halted is as clean; no file is left behind."""

import os
import shutil
import time

import harness
import pictures
import relay_trace
from harness import SAVER_CLASS, SessionTest, focus, start_host, xdotool

TARGET = (192, 144, 640, 480)
SELECTION_FAILED = "SelectPicture失敗"
DIB_BYTES = 640 * 480 * 3  # a decoded picture's memory block is at least this large
GENERIC_WRITE, GENERIC_READ = 0x40000000, 0x80000000
CREATE_NEW, OPEN_EXISTING = 1, 3
INVALID_HANDLE = 0xFFFFFFFF
TRACED = relay_trace.FILE_CALLS + relay_trace.MEMORY_CALLS + relay_trace.DRAW_CALLS + [
    "kernel32.WriteFile", "kernel32.ReadFile", "kernel32.CloseHandle", "user32.MessageBoxA", "user32.MessageBoxW"]


class PictureLifecycle(SessionTest):
    screen = (1024, 768)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        _, out = harness.run_wine(cls.session, "cmd", "/c", "echo %TEMP%")
        temp = out.decode().strip()  # C:\users\<name>\Temp
        drive, rest = temp.split(":", 1)
        cls.temp_file = os.path.join(harness.PREFIX, "dosdevices", drive.lower() + ":",
                                     *rest.strip("\\").split("\\"), "tmp1.tmp")
        cls.temp_name = temp + "\\tmp1.tmp"

    def setUp(self):
        self.remove_temp_file()

    def tearDown(self):
        super().tearDown()
        relay_trace.stop_tracing(self.session)
        self.remove_temp_file()

    def remove_temp_file(self):
        if os.path.isdir(self.temp_file):
            shutil.rmtree(self.temp_file)
        elif os.path.lexists(self.temp_file):
            os.unlink(self.temp_file)

    def start_traced(self, **settings):
        harness.set_settings(self.session, t4=0, t6=0, **settings)
        proc, log = relay_trace.start_traced_saver(self.session, TRACED, "/s")
        window = harness.wait_window(self.session, SAVER_CLASS, "Screen Saver", timeout=30)
        return proc, log, window

    def wait_for_picture(self, screen, number, timeout=20.0):
        picture = pictures.reference(self.session, number)
        self.assertTrue(harness.wait_until(lambda: screen.grab(*TARGET) == picture.rows, timeout),
                        f"picture {number} is not on the screen")

    def is_temp_file(self, call):
        return call.args[0].split(" ", 1)[-1].strip('"').replace("\\\\", "\\") == self.temp_name

    def file_steps(self, calls):
        """What the saver did with the temporary file, in order."""
        steps = []
        for call in calls:
            if call.name == "kernel32.FindResourceA":
                steps.append(("picture", call.arg(1) - pictures.PICTURE_RESOURCE_BASE))
            elif call.name == "kernel32.CreateFileA" and self.is_temp_file(call):
                mode = {GENERIC_WRITE: "write", GENERIC_READ: "read"}.get(call.arg(1), hex(call.arg(1)))
                steps.append(("open " + mode, call.arg(4), call.retval != INVALID_HANDLE))
            elif call.name == "kernel32.DeleteFileA" and self.is_temp_file(call):
                steps.append(("delete", bool(call.retval)))
            elif call.name == "gdi32.StretchDIBits":
                if not steps or steps[-1] != ("draw",):
                    steps.append(("draw",))
            elif call.name in ("user32.MessageBoxA", "user32.MessageBoxW"):
                steps.append(("message",))
        return steps

    def assertPicturesReleasedOnce(self, calls):
        memory = relay_trace.MemoryBalance(DIB_BYTES)
        for call in calls:
            memory.feed(call)
        self.assertGreater(memory.allocated, 0, "no picture memory seen")
        self.assertEqual(memory.bad_frees, [], "memory released twice or never allocated")
        self.assertEqual(memory.live, set(), "picture memory never released")
        self.assertEqual(memory.freed, memory.allocated)
        return memory

    def close(self, proc, window):
        self.close_with_key(proc, window)
        self.assertFalse(os.path.lexists(self.temp_file), "the temporary file outlives the saver")

    # ------------------------------------------------------------ cases

    def test_the_file_exists_only_from_extraction_to_the_end_of_the_decode(self):
        proc, log, window = self.start_traced(t1=1, t2=0)
        with pictures.Screen(self.session) as screen:
            for number in (1, 2, 3):
                self.wait_for_picture(screen, number)
                # On the screen, hence decoded: the file is gone.
                self.assertFalse(os.path.lexists(self.temp_file), f"the file outlives picture {number}'s decode")
        self.close(proc, window)  # while picture 3 stands: nothing left to release
        calls = relay_trace.saver_calls(log)
        steps = self.file_steps(calls)
        per_picture = [("open write", CREATE_NEW, True), ("open read", OPEN_EXISTING, True), ("delete", True),
                       ("draw",)]
        for number in (1, 2, 3):
            start = steps.index(("picture", number))
            self.assertEqual(steps[start + 1:start + 5], per_picture, f"picture {number}")
        # Picture 1 written whole (the ten bytes, then the resource) and closed
        # before the decoder opens it.
        opened = next(i for i, c in enumerate(calls) if c.name == "kernel32.CreateFileA" and self.is_temp_file(c))
        reopened = next(i for i, c in enumerate(calls) if i > opened and c.name == "kernel32.CreateFileA")
        between = [(c.name, c.arg(0)) for c in calls[opened + 1:reopened] if c.name in
                   ("kernel32.WriteFile", "kernel32.CloseHandle")]
        handle = calls[opened].retval
        self.assertEqual(between, [("kernel32.WriteFile", handle)] * 2 + [("kernel32.CloseHandle", handle)])
        written = [c.arg(2) for c in calls[opened + 1:reopened] if c.name == "kernel32.WriteFile"]
        self.assertEqual(written, [10, len(pictures.resource_bytes(1))])
        # The close and the window's end each delete the file again, finding nothing.
        self.assertEqual(steps[-2:], [("delete", False), ("delete", False)])
        self.assertPicturesReleasedOnce(calls)

    def test_a_stale_file_under_the_name_is_replaced(self):
        # Another picture, longer than picture 1: left in place, or overwritten
        # without being cut short, it would not give picture 1.
        with open(self.temp_file, "wb") as f:
            f.write(pictures.JFIF_PREFIX + pictures.resource_bytes(30) + bytes(70000))
        proc, log, window = self.start_traced(t1=600, t2=0)
        with pictures.Screen(self.session) as screen:
            self.wait_for_picture(screen, 1)
        self.assertFalse(os.path.lexists(self.temp_file))
        self.close(proc, window)
        steps = self.file_steps(relay_trace.saver_calls(log))
        self.assertEqual(steps[:6], [("picture", 1), ("open write", CREATE_NEW, False), ("delete", True),
                                     ("open write", CREATE_NEW, True), ("open read", OPEN_EXISTING, True),
                                     ("delete", True)])

    def failure_message(self):
        """The message box that reports the failed selection, checked and kept."""
        s = self.session
        box = harness.wait_window(s, "#32770", "*", timeout=20)
        self.assertIsNotNone(box, "no message box")
        texts = [child["title"] for child in harness.children(s, box["hwnd"]) if child["class"] == "Static"]
        self.assertIn(SELECTION_FAILED, texts)
        saver = harness.saver_windows(s)
        self.assertEqual(len(saver), 1)
        self.assertEqual(box["owner"], saver[0]["hwnd"], "owned by the saver window")
        return box

    def assertHalted(self, proc, log, screen, picture_rows, seconds):
        """No further picture is tried and the screen stays as it is."""
        before = len(relay_trace.picture_numbers(relay_trace.saver_calls(log)))
        time.sleep(seconds)
        self.assertIsNone(proc.poll(), "the saver ended by itself")
        self.assertEqual(len(relay_trace.picture_numbers(relay_trace.saver_calls(log))), before,
                         "another picture was tried")
        if picture_rows is not None:
            self.assertEqual(screen.grab(*TARGET), picture_rows, "the screen changed")

    def test_a_folder_under_the_name_stops_the_first_picture(self):
        s = self.session
        os.mkdir(self.temp_file)
        proc, log, _ = self.start_traced(t1=1, t2=0)
        box = self.failure_message()  # shown inside the window's creation
        focus(s, box)
        xdotool(s, "key", "Return")
        window = harness.wait_window(s, SAVER_CLASS, "Screen Saver", timeout=20)
        self.assertIsNotNone(window, "the saver window after the message")
        with pictures.Screen(s) as screen:
            self.assertHalted(proc, log, screen, None, 2.5)
            self.assertTrue(pictures.is_black(screen.grab(0, 0, s.width, s.height)), "nothing is drawn")
        xdotool(s, "mousemove", 20, 20)
        xdotool(s, "mousemove", 300, 300)
        self.assertCloses(proc, "mouse movement while halted")
        self.assertTrue(os.path.isdir(self.temp_file), "the folder is not the saver's to remove")
        calls = relay_trace.saver_calls(log)
        self.assertEqual(self.file_steps(calls), [
            ("picture", 1), ("open write", CREATE_NEW, False), ("delete", False), ("open write", CREATE_NEW, False),
            ("message",), ("delete", False), ("delete", False)])
        memory = relay_trace.MemoryBalance(DIB_BYTES)
        for call in calls:
            memory.feed(call)
        self.assertEqual((memory.allocated, memory.bad_frees), (0, []), "no picture was ever held")

    def test_an_english_system_shows_the_message_in_japanese(self):
        self.assertEqual(harness.ansi_code_page(self.session, harness.ENGLISH), 1252)
        os.mkdir(self.temp_file)
        harness.set_settings(self.session, t1=1, t2=0, t4=0, t6=0)
        with self.ending(harness.start_saver(self.session, "/s", locale=harness.ENGLISH)):
            self.failure_message()

    def test_a_folder_that_appears_halts_the_show_and_input_still_closes_it(self):
        s = self.session
        proc, log, window = self.start_traced(t1=2, t2=0)
        picture = pictures.reference(s, 1)
        with pictures.Screen(s) as screen:
            self.wait_for_picture(screen, 1)
            os.mkdir(self.temp_file)  # before picture 2 is extracted
            box = self.failure_message()
            harness.screenshot(s, "slideshow-selection-failed-message")
            # The box belongs to the halted saver; input on the saver waits
            # until it is answered.
            focus(s, box)
            xdotool(s, "key", "Return")
            self.assertTrue(harness.wait_until(lambda: not any(w["class"] == "#32770" and w["visible"]
                                                               for w in harness.top_windows(s)[1]), 10),
                            "the message box stays")
            self.assertHalted(proc, log, screen, None, 3)
            # Picture 1 stays where the box did not cover it. (Under the box
            # Wine puts back what was there; Windows would show black.)
            _, top, _, bottom = box["rect"]
            rows = screen.grab(*TARGET)
            for y in (0, top - TARGET[1] - 1, bottom - TARGET[1], TARGET[3] - 1):
                self.assertEqual(rows[y], picture.rows[y], f"row {y} of the picture")
        focus(s, window)
        xdotool(s, "mousemove", 30, 30)
        xdotool(s, "mousemove", 600, 500)
        self.assertCloses(proc, "mouse movement while halted")
        calls = relay_trace.saver_calls(log)
        steps = self.file_steps(calls)
        self.assertEqual(steps[steps.index(("picture", 2)):], [
            ("picture", 2), ("open write", CREATE_NEW, False), ("delete", False), ("open write", CREATE_NEW, False),
            ("message",), ("delete", False), ("delete", False)])
        self.assertPicturesReleasedOnce(calls)

    def test_closing_while_the_message_is_open_is_clean(self):
        s = self.session
        proc, log, window = self.start_traced(t1=1, t2=0)
        with pictures.Screen(s) as screen:
            self.wait_for_picture(screen, 1)
        os.mkdir(self.temp_file)
        self.failure_message()
        # Another program takes the foreground: the saver closes, box and all.
        start_host(s, 600, 400, 150, 100)
        self.assertCloses(proc, "loss of the foreground while the message is open")
        calls = relay_trace.saver_calls(log)
        self.assertEqual(self.file_steps(calls)[-3:], [("message",), ("delete", False), ("delete", False)])
        self.assertPicturesReleasedOnce(calls)

    def test_closing_mid_reveal_releases_the_picture_once_and_leaves_no_file(self):
        s = self.session
        proc, log, window = self.start_traced(t1=600, t2=10)
        picture = pictures.reference(s, 1)
        middle = set(picture.rows[120:360])
        with pictures.Screen(s) as screen:
            # The band between a quarter and three quarters of the way down.
            self.assertTrue(harness.wait_until(lambda: screen.grab(*TARGET)[0] in middle, 20, interval=0.02),
                            "no reveal under way")
        self.close(proc, window)
        calls = relay_trace.saver_calls(log)
        memory = self.assertPicturesReleasedOnce(calls)
        self.assertEqual(memory.allocated, 1, "one picture")
        draws = [c for c in calls if c.name == "gdi32.StretchDIBits"]
        self.assertLess(draws[-1].arg(8), picture.height, "the close came before the last row")
        allocated = next(i for i, c in enumerate(calls) if c.name == "kernel32.GlobalAlloc" and c.arg(1) >= DIB_BYTES)
        handle = calls[allocated].retval
        frees = [i for i, c in enumerate(calls) if i > allocated and c.name == "kernel32.GlobalFree" and c.arg(0) == handle]
        self.assertEqual(len(frees), 1, "the picture is released once")
        self.assertGreater(frees[0], calls.index(draws[-1]), "released after the last drawing")


if __name__ == "__main__":
    harness.main()
