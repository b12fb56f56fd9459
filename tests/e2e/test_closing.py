#!/usr/bin/env python3
"""The rules by which real input ends a full-screen run: mouse movement beyond
four pixels from where the cursor was at the start, key and button presses,
the loss of the foreground, and the power broadcasts of going to sleep and
waking; releases, the wheel and other power broadcasts do nothing."""

import harness
from harness import SAVER_CLASS, SessionTest, focus, place_pointer, pointer, start_host, wait_no_window, xdotool

START = (400, 300)


class ClosingRules(SessionTest):
    # Another screen size than the other files: the window follows the screen.
    screen = (800, 600)

    def start_with_pointer_at(self, x, y):
        # The saver's reference point is where Wine says the pointer is at its
        # start, so both X and Wine must hold the place; it is set while no
        # saver is up, since setting it moves the mouse for the window under it.
        self.assertTrue(wait_no_window(self.session, SAVER_CLASS, "Screen Saver"), "an earlier saver stays")
        self.assertEqual(place_pointer(self.session, x, y), ((x, y), (x, y)), "the pointer for X and for Wine")
        proc, window = self.start_fullscreen("/s")
        self.assertEqual(window["rect"], [0, 0, 800, 600])
        return proc, window

    def move_to(self, x, y):
        # Absolute moves: relative ones may be accelerated by the server.
        xdotool(self.session, "mousemove", x, y)
        self.assertEqual(pointer(self.session), (x, y))

    def test_movements_add_up_from_where_the_cursor_was_at_the_start(self):
        x, y = START
        proc, _ = self.start_with_pointer_at(x, y)
        self.move_to(x + 2, y + 2)
        self.assertStaysOpen(proc, "2 + 2 pixels")
        self.move_to(x + 3, y + 2)
        self.assertCloses(proc, "3 + 2 pixels from the start, in two steps")

    def test_four_pixels_in_either_direction_do_not_close(self):
        x, y = START
        proc, _ = self.start_with_pointer_at(x, y)
        self.move_to(x + 4, y)
        self.assertStaysOpen(proc, "4 pixels right")
        self.move_to(x - 4, y)
        self.assertStaysOpen(proc, "4 pixels left")
        self.move_to(x, y - 4)
        self.assertStaysOpen(proc, "4 pixels up")
        self.move_to(x - 4, y - 1)
        self.assertCloses(proc, "4 left and 1 up")

    def test_three_and_two_pixels_close_at_once(self):
        x, y = START
        proc, _ = self.start_with_pointer_at(x, y)
        self.move_to(x - 3, y + 2)
        self.assertCloses(proc, "3 left and 2 down")

    def test_releases_and_the_wheel_do_not_close(self):
        s = self.session
        x, y = START
        # The server drops a release of a key or button that is not down, so
        # they are pressed before the saver starts and released while it runs:
        # the saver sees only the releases. Shift does not repeat while held.
        self.move_to(x, y)
        xdotool(s, "keydown", "Shift_L")
        xdotool(s, "mousedown", 1)
        try:
            proc, window = self.start_with_pointer_at(x, y)
            focus(s, window)
            xdotool(s, "keyup", "Shift_L")
            self.assertStaysOpen(proc, "a key release")
            xdotool(s, "mouseup", 1)
            self.assertStaysOpen(proc, "a button release")
            xdotool(s, "click", 4)
            xdotool(s, "click", 5)
            self.assertStaysOpen(proc, "the mouse wheel")
        finally:
            xdotool(s, "keyup", "Shift_L")
            xdotool(s, "mouseup", 1)
        self.close_with_key(proc, window)

    def test_key_presses_close(self):
        s = self.session
        for key in ("a", "Alt_L", "F10", "Escape"):  # Alt and F10 arrive as system keys
            with self.subTest(key=key), self.ending(self.start_with_pointer_at(*START)[0]) as proc:
                focus(s, harness.wait_window(s, harness.SAVER_CLASS, "Screen Saver"))
                xdotool(s, "keydown", key)
                try:
                    self.assertCloses(proc, f"pressing {key}")
                finally:
                    xdotool(s, "keyup", key)

    def test_button_presses_close(self):
        s = self.session
        for button in (1, 2, 3):  # left, middle, right
            with self.subTest(button=button), self.ending(self.start_with_pointer_at(*START)[0]) as proc:
                xdotool(s, "mousedown", button)
                try:
                    self.assertCloses(proc, f"pressing button {button}")
                finally:
                    xdotool(s, "mouseup", button)

    def test_another_program_taking_the_foreground_closes(self):
        proc, _ = self.start_with_pointer_at(*START)
        host, _ = start_host(self.session, 600, 400, 150, 100)  # it makes itself the foreground window
        self.assertCloses(proc, "loss of activation")
        harness.host_command(host, "destroy")

    def test_power_broadcasts_close_only_for_sleep_and_waking(self):
        # Battery low, power status, power setting: a laptop on battery sends them unattended.
        for sleep_or_wake in (0x0004, 0x0012):  # PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC
            with self.ending(self.start_with_pointer_at(*START)[0]) as proc:
                harness.send_to_saver(self.session, "post", *(f"0x218:{event}" for event in (9, 10, 0x8013)))
                self.assertStaysOpen(proc, "power status broadcasts")
                harness.send_to_saver(self.session, "post", f"0x218:{sleep_or_wake}")
                self.assertCloses(proc, f"power broadcast {sleep_or_wake:#x}")


if __name__ == "__main__":
    harness.main()
