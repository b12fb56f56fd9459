#!/usr/bin/env python3
"""Where the first picture lands and how large: at its own size in the middle
of the screen, pixel for pixel what the decoder gives, or fitted to the
screen's shape on screens of several sizes, and in a preview window of the
display settings' size."""

import time

import harness
import pictures
import relay_trace
from harness import SAVER_CLASS, SessionTest, host_command, start_host, wait_child, wait_exit

# The first picture stays this long; each case closes the saver long before.
LONG_SWITCH = 600
DRAW_TIMEOUT = 15.0


def wait_for(check, timeout=DRAW_TIMEOUT, interval=0.05):
    """Repeats `check` until it returns None (all is well) or time runs out;
    returns the last complaint."""
    deadline = time.monotonic() + timeout
    while True:
        complaint = check()
        if complaint is None or time.monotonic() > deadline:
            return complaint
        time.sleep(interval)


class PlacementTest(SessionTest):

    def show_first_picture(self, fit):
        harness.set_settings(self.session, t1=LONG_SWITCH, t2=0, t4=0, t6=fit)
        return self.start_fullscreen("/s")

    def assertBlackOutside(self, screen, target):
        """Everything of the screen outside target = (x, y, width, height) is
        the window's black background: untouched by the drawing."""
        x, y, width, height = target
        s = self.session
        bands = {"above": (0, 0, s.width, y), "below": (0, y + height, s.width, s.height - y - height),
                 "left": (0, y, x, height), "right": (x + width, y, s.width - x - width, height)}
        for name, (bx, by, bw, bh) in bands.items():
            if bw > 0 and bh > 0:
                self.assertTrue(pictures.is_black(screen.grab(bx, by, bw, bh)), f"the band {name} is not black")

    def assertFittedPicture(self, target, artefact=None):
        """Picture 1 stretched to target = (x, y, width, height), black around it."""
        s = self.session
        picture = pictures.reference(s, 1)
        proc, window = self.show_first_picture(fit=1)
        x, y, width, height = target
        samples = pictures.sample_count(width, height)
        with pictures.Screen(s) as screen:
            def check():
                misses = pictures.scaled_mismatches(screen.grab(x, y, width, height), picture)
                return None if misses == 0 else f"{misses} of {samples} sampled pixels differ"
            self.assertIsNone(wait_for(check), f"picture 1 stretched to {width}x{height} at ({x}, {y})")
            self.assertBlackOutside(screen, target)
            # The picture reaches the target's edges: its outermost rows and
            # columns are there, and not one pixel further.
            first_row, last_row = screen.grab(x, y, width, 1)[0], screen.grab(x, y + height - 1, width, 1)[0]
            self.assertEqual(first_row[:3], picture.pixel(0, 0))
            self.assertEqual(last_row[-3:], picture.pixel(picture.width - 1, picture.height - 1))
        if artefact:
            harness.screenshot(s, artefact)
        self.close_with_key(proc, window)


class OrdinaryScreen(PlacementTest):
    """A 1024 x 768 screen, and a preview the size of the display settings'
    little monitor: a 152 x 112 client area.

    Under Wine a child window of another process's window draws nowhere that
    can be seen: neither the screen nor the host's own DC shows it (the saver
    gets no X drawable for it). So the preview's drawing is read from the
    saver's own drawing call, which names the target and the source rows."""

    screen = (1024, 768)
    CLIENT = (152, 112)

    def test_picture_1_stands_in_the_middle_pixel_for_pixel(self):
        s = self.session
        picture = pictures.reference(s, 1)
        self.assertEqual((picture.width, picture.height), (640, 480))
        proc, window = self.show_first_picture(fit=0)
        target = (192, 144, 640, 480)
        with pictures.Screen(s) as screen:
            def check():
                where = pictures.first_mismatch(screen.grab(*target), picture)
                return None if where is None else f"first differing pixel at {where}"
            self.assertIsNone(wait_for(check), "picture 1 at (192, 144), 1:1")
            self.assertBlackOutside(screen, target)
        self.close_with_key(proc, window)

    def test_fitted_the_whole_screen_keeps_its_shape(self):
        self.assertFittedPicture((0, 0, 1024, 768))


    def tearDown(self):
        relay_trace.stop_tracing(self.session)
        super().tearDown()

    def start_host_with_client(self, width, height):
        """A host window whose client area is exactly width x height: the frame
        around it is measured on a first window."""
        s = self.session
        probe_host, info = start_host(s, 300, 200, width, height)
        host_command(probe_host, "destroy")
        wait_exit(probe_host, 10)
        frame_w, frame_h = width - info["client"][2], height - info["client"][3]
        host, info = start_host(s, 300, 200, width + frame_w, height + frame_h)
        self.assertEqual(info["client"], [0, 0, width, height], "the host's client area")
        return host, info

    def preview_drawing(self, fit):
        """Runs a preview of picture 1 and returns the saver's one drawing call."""
        s = self.session
        harness.set_settings(s, t1=LONG_SWITCH, t2=0, t4=0, t6=fit)
        host, info = self.start_host_with_client(*self.CLIENT)
        proc, log = relay_trace.start_traced_saver(s, relay_trace.DRAW_CALLS + ["kernel32.FindResourceA"],
                                                   "/p", str(info["hwnd"]))
        child = wait_child(s, info["hwnd"], SAVER_CLASS, "Preview")
        self.assertIsNotNone(child, "no preview window")
        self.assertEqual(child["client"], [0, 0, *self.CLIENT])

        def drawn():
            return [c for c in relay_trace.saver_calls(log) if c.name == "gdi32.StretchDIBits" and c.retval is not None]
        harness.wait_until(lambda: drawn(), DRAW_TIMEOUT)
        time.sleep(0.5)  # an instant reveal draws once; a second draw would show here
        host_command(host, "destroy")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "the preview ends with its host")
        calls = relay_trace.saver_calls(log)
        self.assertEqual(relay_trace.picture_numbers(calls), [1])
        draws = [c for c in calls if c.name == "gdi32.StretchDIBits"]
        self.assertEqual(len(draws), 1, "an instant reveal draws the picture once")
        return draws[0]

    @staticmethod
    def rectangles(draw):
        """(destination x, y, width, height), (source x, y, width, height)."""
        return (tuple(draw.signed_arg(i) for i in range(1, 5)), tuple(draw.signed_arg(i) for i in range(5, 9)))

    def test_preview_at_original_size_shows_the_middle_of_the_picture_1_to_1(self):
        draw = self.preview_drawing(fit=0)
        # The whole picture, 1:1, placed so that the client shows its middle.
        self.assertEqual(self.rectangles(draw), ((-244, -184, 640, 480), (0, 0, 640, 480)))
        self.assertEqual(draw.retval, 480, "every row drawn")

    def test_preview_fitted_shows_the_whole_picture_in_its_whole_client_area(self):
        draw = self.preview_drawing(fit=1)
        self.assertEqual(self.rectangles(draw), ((0, 0, 152, 112), (0, 0, 640, 480)))
        self.assertEqual(draw.retval, 480, "every row drawn")


class FittedTallScreen(PlacementTest):
    screen = (1280, 1024)

    def test_fitted_picture_is_1280x996_between_black_bands(self):
        self.assertFittedPicture((0, 14, 1280, 996), artefact="slideshow-fitted-1280x1024")


class FittedWideScreen(PlacementTest):
    screen = (1920, 1080)

    def test_fitted_picture_is_1492x1080_between_black_bands(self):
        self.assertFittedPicture((214, 0, 1492, 1080))


if __name__ == "__main__":
    harness.main()
