#!/usr/bin/env python3
"""The preview inside a window of the display settings, stood in for by a
host window of the test's own: the saver's child fills the host's client area,
ignores input, and ends when the host's window goes away."""

import harness
from harness import (SAVER_CLASS, SessionTest, children, host_command, spawn_exact, spawned_exit, start_host,
                     start_saver, wait_child, wait_exit, xdotool)

PREVIEW_STYLE = 0x52000000  # WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN


class Preview(SessionTest):

    def start_preview(self, switch, width, height):
        s = self.session
        host, info = start_host(s, 200, 150, width, height)
        hwnd = info["hwnd"]
        proc = start_saver(s, switch, str(hwnd))
        child = wait_child(s, hwnd, SAVER_CLASS, "Preview")
        self.assertIsNotNone(child, f"no preview child for {switch} {hwnd}")
        return host, info, proc, child

    def test_preview_fills_the_hosts_client_area_and_ignores_input(self):
        s = self.session
        # The second size is about that of the display settings' little monitor.
        for switch, width, height in [("/p", 320, 240), ("/l", 160, 140), ("-P", 400, 160)]:
            with self.subTest(switch=switch, size=(width, height)):
                host, info, proc, child = self.start_preview(switch, width, height)
                self.addCleanup(harness.end_process, host)
                self.addCleanup(harness.end_process, proc)
                client = info["client"]
                self.assertEqual(child["inparent"], client, "the preview fills the host's client area")
                self.assertEqual(child["client"], client)
                self.assertEqual(int(child["style"], 16), PREVIEW_STYLE)
                self.assertEqual(int(child["exstyle"], 16) & 0x8, 0, "a preview is not topmost")
                self.assertEqual(len(children(s, info["hwnd"])), 1, "one preview window")
                self.assertEqual(harness.saver_windows(s), [], "no full-screen window")

                left, top, right, bottom = child["rect"]
                cx, cy = (left + right) // 2, (top + bottom) // 2
                xdotool(s, "mousemove", cx, cy)
                xdotool(s, "mousemove", cx + 20, cy + 15)
                for button in (1, 2, 3):
                    xdotool(s, "click", button)
                host_window = harness.wait_window(s, "DunmereTestHost", "preview host")
                harness.focus(s, host_window)
                xdotool(s, "key", "a", "Escape", "space")
                self.assertStaysOpen(proc, "input over the preview")
                self.assertIsNotNone(wait_child(s, info["hwnd"], SAVER_CLASS, "Preview", timeout=2))

                host_command(host, "destroy")
                self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "the preview ends with its host")
                self.assertEqual(wait_exit(host, 10), 0)

    def test_blanks_between_switch_and_number_are_skipped(self):
        s = self.session
        host, info = start_host(s)
        waiter = spawn_exact(s, b"Dunmere.scr -p   %d" % info["hwnd"], timeout=60)
        self.assertIsNotNone(wait_child(s, info["hwnd"], SAVER_CLASS, "Preview"))
        host_command(host, "destroy")
        self.assertEqual(spawned_exit(waiter), (0, False))


if __name__ == "__main__":
    harness.main()
