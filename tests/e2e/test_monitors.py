#!/usr/bin/env python3
"""The saver on two monitors of different sizes, the second left of the
primary (at negative coordinates for Windows), on Xorg's dummy driver: the
window leaves no pixel of either monitor uncovered (the root is magenta), each
monitor shows the picture placed by its own rectangle, a reveal runs on both,
a repaint puts the picture back, and a layout change while the saver runs
places it again. On a 256-colour display, another program's palette change
has the picture repainted."""

import time

import harness
import pictures
import relay_trace
from harness import SAVER_CLASS, SessionTest

MAGENTA = bytes((255, 0, 255))
LEFT_OF = [("1024x768", ()), ("800x600", ("--left-of", "DUMMY0"))]
RIGHT_OF_TALL = [("1024x768", ()), ("1280x1024", ("--right-of", "DUMMY0"))]
TIMEOUT = 15.0


class TwoMonitors(SessionTest):
    monitors = LEFT_OF

    def tearDown(self):
        super().tearDown()
        harness.set_monitors(self.session, LEFT_OF)

    def start(self, fit, reveal_ms=0):
        harness.set_settings(self.session, t1=600, t2=reveal_ms, t4=0, t6=fit)
        return self.start_fullscreen("/s")

    def assertCovered(self, screen):
        s = self.session
        rows = screen.grab(0, 0, s.width, s.height)
        uncovered = sum(row[i:i + 3] == MAGENTA for row in rows for i in range(0, len(row), 3))
        self.assertEqual(uncovered, 0, "pixels the window leaves uncovered")

    def assertShown(self, screen, targets, fitted):
        """Picture 1 on every target (x, y, width, height) on the root, 1:1 or stretched."""
        picture = pictures.reference(self.session, 1)
        def wrong():
            if fitted:
                return [t for t in targets if pictures.scaled_mismatches(screen.grab(*t), picture)]
            return [t for t in targets if pictures.first_mismatch(screen.grab(*t), picture) is not None]
        self.assertTrue(harness.wait_until(lambda: not wrong(), TIMEOUT), f"picture 1 is not at {wrong()}")

    def centred(self):
        return [(x + (w - 640) // 2, y + (h - 480) // 2, 640, 480) for x, y, w, h in self.session.outputs]

    def test_original_size_centred_on_each_monitor_and_repainted(self):
        proc, window = self.start(fit=0)
        with pictures.Screen(self.session) as screen:
            self.assertShown(screen, self.centred(), fitted=False)
            self.assertCovered(screen)
            harness.screenshot(self.session, "monitors-original")
            # Erased as a closed message box leaves it: the picture comes back.
            harness.send_to_saver(self.session, "invalidate")
            # The sender returns once the saver has painted, but Wine copies
            # the window to the X screen on its own schedule, and no event
            # marks that: without this span the old pixels could pass.
            time.sleep(1)
            self.assertShown(screen, self.centred(), fitted=False)
        self.close_with_key(proc, window)

    def test_fitted_to_each_monitors_shape_and_placed_again_after_a_layout_change(self):
        s = self.session
        proc, window = self.start(fit=1)
        with pictures.Screen(s) as screen:
            self.assertShown(screen, s.outputs, fitted=True)
            self.assertCovered(screen)
            harness.screenshot(s, "monitors-fitted")
            harness.set_monitors(s, RIGHT_OF_TALL)
            harness.send_to_saver(s, "post", "0x7E")  # WM_DISPLAYCHANGE: Wine does not send it by itself
            (x0, y0, w0, h0), (x1, y1, _, _) = s.outputs
            self.assertShown(screen, [(x0, y0, w0, h0), (x1, y1 + 14, 1280, 996)], fitted=True)
            self.assertCovered(screen)
            harness.screenshot(s, "monitors-fitted-after-layout-change")
        self.assertIsNone(proc.poll(), "the layout change closed the saver")
        self.close_with_key(proc, window)

    def test_a_reveal_runs_on_both_monitors_at_once(self):
        proc, window = self.start(fit=0, reveal_ms=10)
        with pictures.Screen(self.session) as screen:
            def partly_shown(x, y, w, h):  # the band has started and has not reached the bottom
                return any(screen.grab(x, y, w, 1)[0]) and pictures.is_black(screen.grab(x, y + h - 1, w, 1))
            self.assertTrue(harness.wait_until(lambda: all(partly_shown(*t) for t in self.centred()), TIMEOUT,
                                               interval=0.02), "no reveal under way on both monitors")
            self.assertShown(screen, self.centred(), fitted=False)
        self.close_with_key(proc, window)


class PaletteDisplay(SessionTest):
    screen = (800, 600, 8)

    def tearDown(self):
        super().tearDown()
        relay_trace.stop_tracing(self.session)

    def test_palette_changes_by_other_windows_repaint_the_picture(self):
        s = self.session
        harness.set_settings(s, t1=600, t2=0, t4=0, t6=0)
        proc, log = relay_trace.start_traced_saver(s, relay_trace.DRAW_CALLS, "/s")
        window = harness.wait_window(s, SAVER_CLASS, "Screen Saver", timeout=30)
        def draws():
            return sum(c.name == "gdi32.StretchDIBits" for c in relay_trace.saver_calls(log))
        self.assertTrue(harness.wait_until(lambda: draws() > 0, TIMEOUT), "the picture is never drawn")
        counts = []
        def quiet():  # two readings a second apart agree: the first showing is drawn
            counts.append(draws())
            return len(counts) > 1 and counts[-1] == counts[-2]
        self.assertTrue(harness.wait_until(quiet, TIMEOUT, interval=1.0), "the picture keeps being drawn")
        before = counts[-1]
        harness.send_to_saver(s, "post", f"0x311:{window['hwnd']}")  # WM_PALETTECHANGED by the saver itself
        time.sleep(1)  # a repaint would come within this span; its absence is what is checked
        self.assertEqual(draws(), before, "its own palette change repaints")
        for message in ("0x311:0", "0x30F"):  # another window's WM_PALETTECHANGED; WM_QUERYNEWPALETTE
            harness.send_to_saver(s, "post", message)
            self.assertTrue(harness.wait_until(lambda: draws() > before, TIMEOUT), f"no repaint after {message}")
            before = draws()
        self.close_with_key(proc, window)


if __name__ == "__main__":
    harness.main()
