#!/usr/bin/env python3
"""What the saver does with its stored settings when its window is made: the
switching-interval default written back, values of odd types and lengths,
and the screen-saver-running flag that t5 asks for."""

import harness
from harness import (SAVER_CLASS, SessionTest, host_command, reg_add, reg_delete_key, reg_query,
                     saver_running_flag, set_saver_running_flag, set_settings, settings, start_host,
                     start_saver, wait_child, wait_exit)

KEY = harness.SETTINGS_KEY


class SettingsAtCreation(SessionTest):
    screen = (640, 480)

    def setUp(self):
        reg_delete_key(self.session)
        set_saver_running_flag(self.session, False)

    def run_full_screen(self, check_while_running=None):
        proc, window = self.start_fullscreen("/s")
        with self.ending(proc):
            seen = check_while_running() if check_while_running else None
            self.close_with_key(proc, window)
        return seen

    def test_no_settings_write_only_the_default_interval(self):
        s = self.session
        seen = self.run_full_screen(lambda: (settings(s), saver_running_flag(s)))
        self.assertEqual(seen, ({"t1": 5}, False), "t1 = 5 is written at creation; no flag without t5")
        self.assertEqual(reg_query(s, "t1"), ("REG_DWORD", 5))
        self.assertEqual(settings(s), {"t1": 5})

    def test_zero_or_negative_intervals_become_five(self):
        s = self.session
        for stored in (0, -3, -2147483648):
            with self.subTest(t1=stored):
                set_settings(s, t1=stored, t2=7, t4=1, t6=1)
                self.run_full_screen()
                self.assertEqual(settings(s), {"t1": 5, "t2": 7, "t4": 1, "t6": 1}, "only t1 is written back")

    def test_a_positive_interval_is_left_as_stored(self):
        s = self.session
        set_settings(s, t1=300)
        self.run_full_screen()
        self.assertEqual(reg_query(s, "t1"), ("REG_DWORD", 300))
        # The type is not looked at: two bytes 07 00 read as 7, which needs no
        # default, so the value is not rewritten (it would become a REG_DWORD).
        reg_add(s, KEY, "t1", "REG_BINARY", "0700")
        self.run_full_screen()
        self.assertEqual(reg_query(s, "t1"), ("REG_BINARY", b"\x07\x00"))

    def test_values_longer_than_four_bytes_are_ignored(self):
        s = self.session
        # Whatever their first bytes say, such values read as missing: t1 gets
        # the default and t5's leading 01 does not raise the flag.
        reg_add(s, KEY, "t1", "REG_BINARY", "0700000000000000")
        reg_add(s, KEY, "t2", "REG_BINARY", "01" * 1000)
        reg_add(s, KEY, "t4", "REG_SZ", "random order, please")
        reg_add(s, KEY, "t5", "REG_BINARY", "01000000ff")
        reg_add(s, KEY, "t6", "REG_MULTI_SZ", "fit\\0to\\0screen")
        seen = self.run_full_screen(lambda: saver_running_flag(s))
        self.assertFalse(seen, "a five-byte t5 does not raise the flag")
        self.assertEqual(reg_query(s, "t1"), ("REG_DWORD", 5))
        self.assertEqual(reg_query(s, "t2"), ("REG_BINARY", b"\x01" * 1000), "t2 is never written back")

    def test_t5_one_raises_the_running_flag_for_the_windows_life(self):
        s = self.session
        set_settings(s, t5=1)
        proc, window = self.start_fullscreen("/s")
        self.assertTrue(harness.wait_until(lambda: saver_running_flag(s), 5), "raised while the window exists")
        self.close_with_key(proc, window)
        self.assertFalse(saver_running_flag(s), "lowered when the window is destroyed")

    def test_t5_one_in_a_preview_raises_the_flag_too(self):
        s = self.session
        set_settings(s, t5=1)
        host, info = start_host(s)
        proc = start_saver(s, "/p", str(info["hwnd"]))
        self.assertIsNotNone(wait_child(s, info["hwnd"], SAVER_CLASS, "Preview"))
        self.assertTrue(harness.wait_until(lambda: saver_running_flag(s), 5))
        host_command(host, "destroy")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0)
        self.assertFalse(saver_running_flag(s))

    def test_other_t5_values_leave_the_flag_alone(self):
        s = self.session
        for stored, before in ((2, True), (0, True), (-1, False)):
            with self.subTest(t5=stored, flag_before=before):
                set_settings(s, t5=stored)
                set_saver_running_flag(s, before)
                seen = self.run_full_screen(lambda: saver_running_flag(s))
                self.assertEqual(seen, before, "not changed at creation")
                self.assertEqual(saver_running_flag(s), before, "not changed at destroy")
        set_saver_running_flag(s, False)


if __name__ == "__main__":
    harness.main()
