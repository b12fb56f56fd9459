#!/usr/bin/env python3
"""The modes the display settings start the saver in, and command lines of
every shape, run against the real program."""

import time

import harness
from harness import (DIALOG_CLASS, DWORD_MINUS_ONE, EXIT_MINUS_ONE, SAVER_CLASS, SessionTest, focus,
                     host_command, run_exact, spawn_exact, spawned_exit, start_host, start_saver, wait_child,
                     wait_exit, wait_window)

GREY = 128 / 255  # the host window's background in a screenshot


def is_plain_grey(stats):
    mean, deviation = stats
    return abs(mean - GREY) < 0.01 and deviation < 0.01


class FullScreen(SessionTest):
    managed = True  # stacking and the cursor as on a desktop

    def test_full_screen_switches_cover_the_screen_topmost_with_the_cursor_hidden(self):
        s = self.session
        host, info = start_host(s, 100, 100, 320, 240)
        host_window = wait_window(s, "DunmereTestHost", "preview host")
        left, top = host_window["rect"][0], host_window["rect"][1]
        host_area = [left + 10, top + 40, left + 200, top + 150]
        # A window that is on screen before the saver starts must be covered by it.
        self.assertTrue(harness.wait_until(
            lambda: is_plain_grey(harness.region_stats(harness.screenshot(s, "modes-before-saver"), host_area)), 10),
            "the host window is on screen")

        harness.xdotool(s, "mousemove", left + 50, top + 80)
        self.assertTrue(harness.wait_until(lambda: harness.cursor_visible_pixels(s) > 0, 5),
                        "the host's arrow cursor shows before the saver")

        for args in [("/s",), ("-s",), ("s",), ("/screen",), ("-/", "S")]:
            with self.subTest(arguments=" ".join(args)), self.ending(start_saver(s, *args)) as proc:
                window = self.wait_fullscreen(proc, args)
                self.assertEqual(window["title"], "Screen Saver")
                self.assertEqual(window["class"], SAVER_CLASS)
                self.assertEqual(int(window["exstyle"], 16) & 0x8, 0x8, "WS_EX_TOPMOST")
                self.assertEqual(int(window["style"], 16), 0x96000000,
                                 "WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN")
                self.assertEqual(window["rect"], [0, 0, s.width, s.height])
                self.assertTrue(window["foreground"], "the saver is the foreground window")
                self.assertEqual(len(harness.saver_windows(s)), 1)
                geometry = harness.x_geometry(s, window["xwin"])
                self.assertEqual(geometry, (0, 0, s.width, s.height, True), "the X window covers the screen")
                self.assertEqual(harness.x_top_window(s), window["xwin"], "nothing is stacked above the saver")
                self.assertTrue(harness.wait_until(lambda: harness.cursor_visible_pixels(s) == 0, 5),
                                "the cursor is hidden over the saver")
                shot = harness.screenshot(s, "saver-running" if args == ("/s",) else "saver-running-check")
                self.assertFalse(is_plain_grey(harness.region_stats(shot, host_area)),
                                 "the host window still shows through the saver")
                self.close_with_key(proc, window)
                self.assertEqual(harness.saver_windows(s), [], "the window is gone after the close")

        host_command(host, "destroy")
        self.assertEqual(wait_exit(host, 10), 0)

    def test_a_second_full_screen_start_leaves_the_first_in_front(self):
        s = self.session
        first, window = self.start_fullscreen("/s")
        started = time.monotonic()
        second = start_saver(s, "/s")
        self.assertEqual(wait_exit(second, 10), 0, "the second start ends with 0")
        self.assertLess(time.monotonic() - started, 5, "the second start ends at once")
        running = harness.saver_windows(s)
        self.assertEqual([w["hwnd"] for w in running], [window["hwnd"]], "only the first window exists")
        self.assertTrue(running[0]["foreground"], "the first saver stays in front")
        self.assertIsNone(first.poll(), "the first saver still runs")
        self.close_with_key(first, window)

    def test_a_running_preview_does_not_stop_a_full_screen_start(self):
        s = self.session
        host, info = start_host(s)
        preview = start_saver(s, "/p", str(info["hwnd"]))
        self.assertIsNotNone(wait_child(s, info["hwnd"], SAVER_CLASS, "Preview"), "the preview runs")
        full, window = self.start_fullscreen("/s")
        self.close_with_key(full, window)
        self.assertIsNone(preview.poll(), "the preview outlives the full-screen run")
        host_command(host, "destroy")
        self.assertEqual(wait_exit(preview, harness.CLOSE_TIMEOUT), 0)


class CommandLines(SessionTest):

    def scr(self):
        return harness.windows_path(harness.SCR).encode()

    def test_unknown_switches_and_bad_preview_parents_end_with_minus_one(self):
        s = self.session
        gone, gone_info = start_host(s)
        host_command(gone, "destroy")
        self.assertEqual(wait_exit(gone, 10), 0)
        host, info = start_host(s)
        hwnd = info["hwnd"]
        lines = [
            b"Dunmere.scr /x", b"Dunmere.scr /1", b"Dunmere.scr /\ts", b"Dunmere.scr x",
            b"Dunmere.scr /p", b"Dunmere.scr /p:%d" % hwnd, b"Dunmere.scr /l:%d" % hwnd, b"Dunmere.scr /p 0",
            b"Dunmere.scr /p 987654", b"Dunmere.scr /l %d" % gone_info["hwnd"], b"Dunmere.scr /p -%d" % hwnd,
            b"Dunmere.scr /p 0x%x" % hwnd,
            b"Dunmere.scr /a", b"Dunmere.scr /a %d" % hwnd,  # password change: Windows 9x only
            # Bytes above 0x7F and double-byte characters as the switch.
            b"Dunmere.scr \x83\x5c", b"Dunmere.scr /\x82\xa0", b"Dunmere.scr -\x81\x40s", b"Dunmere.scr \xff\xfe",
            b"Dunmere.scr /\xb6", b"Dunmere.scr /p \x82\x50",
        ]
        for line in lines:
            with self.subTest(line=line):
                code, timed_out = run_exact(s, line)
                self.assertFalse(timed_out, "the saver kept running")
                self.assertEqual(code, DWORD_MINUS_ONE)
        # The same code as the Unix caller of Wine sees it.
        self.assertEqual(harness.run_saver(s, "/x"), EXIT_MINUS_ONE)
        self.assertEqual(harness.run_saver(s, "/p"), EXIT_MINUS_ONE)
        self.assertIsNone(host.poll(), "the host window is left alone")
        self.assertEqual(harness.saver_windows(s), [])

    def test_window_numbers_wrap_at_32_bits(self):
        s = self.session
        host, info = start_host(s)
        preview = start_saver(s, "/p", str(info["hwnd"] + (1 << 32)))
        self.assertIsNotNone(wait_child(s, info["hwnd"], SAVER_CLASS, "Preview"),
                             "a number 2^32 larger names the same window")
        host_command(host, "destroy")
        self.assertEqual(wait_exit(preview, harness.CLOSE_TIMEOUT), 0)

    def test_odd_bytes_after_the_switch_letter_are_ignored(self):
        s = self.session
        for line in [b'Dunmere.scr /S\xff\x83"never closed', b'"Dunmere.scr"/s', b"Dunmere.scr\t\x01 -/-s 12 \x82\xa0"]:
            with self.subTest(line=line), self.ending(spawn_exact(s, line, timeout=60)) as waiter:
                window = wait_window(s, SAVER_CLASS, "Screen Saver")
                self.assertIsNotNone(window, "full-screen run")
                focus(s, window)
                harness.xdotool(s, "key", "space")
                code, timed_out = spawned_exit(waiter)
                self.assertEqual((code, timed_out), (0, False))

    def test_configuration_dialog_modes_and_their_owners(self):
        s = self.session
        other, other_info = start_host(s, 500, 100, 200, 150)
        front, front_info = start_host(s, 100, 100, 320, 240)
        h_front, h_other = front_info["hwnd"], other_info["hwnd"]
        scr = self.scr()
        cases = [
            ("no arguments", None, 0),
            ("/c", b"Dunmere.scr /c", h_front),
            ("/C:0", b"Dunmere.scr /C:0", h_front),
            ("/c:N", b"Dunmere.scr /c:%d" % h_other, h_other),
            ("-c:N beyond 32 bits", b"Dunmere.scr -c:%d" % (h_other + (3 << 32)), h_other),
            ("/c N", b"Dunmere.scr /c %d" % h_other, h_front),
            ("/c:N not a window", b"Dunmere.scr /c:987654", h_front),
            ("unclosed quote", b'"' + scr + b" /s", 0),
            ("quoted name with blanks", b'"' + scr + b' " ', 0),
            ("only separators", b"Dunmere.scr  - / ", 0),
            ("tabs and control bytes after the name", b"Dunmere.scr\t\x01\x1f", 0),
        ]
        for what, line, owner in cases:
            with self.subTest(case=what):
                host_command(front, "foreground")
                self.assertTrue(harness.wait_until(lambda: harness.top_windows(s)[0] == h_front, 10),
                                "the host is the foreground window")
                proc = start_saver(s) if line is None else spawn_exact(s, line, timeout=60)
                self.addCleanup(harness.end_process, proc)
                dialog = wait_window(s, DIALOG_CLASS, "*")
                self.assertIsNotNone(dialog, "the dialog appears")
                self.assertEqual(dialog["title"], "設定")
                self.assertEqual(dialog["owner"], owner, "owner")
                focus(s, dialog)
                harness.xdotool(s, "key", "Escape")
                if line is None:
                    self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 2, "Cancel ends the mode with 2")
                else:
                    self.assertEqual(spawned_exit(proc), (2, False), "Cancel ends the mode with 2")
        host_command(front, "destroy")
        host_command(other, "destroy")


if __name__ == "__main__":
    harness.main()
