#!/usr/bin/env python3
"""The user's own pictures: a folder that the test makes, shown in name order
(every good picture, upright and fitted, the broken ones passed over without
a word, photos in a Japanese subfolder, under a name outside code page 932
and of 24 MP included; input closes the saver mid-decode), in
the shuffled deck's order across two runs, and on two monitors; a missing
folder gives the built-in pictures. No run changes a file."""

import os
import shutil
import tempfile
import time

import harness
import picture_folder
import pictures
from harness import SessionTest

RED, BLUE, GREEN, CYAN, YELLOW, MAGENTA = ((255, 0, 0), (0, 0, 255), (0, 255, 0), (0, 255, 255), (255, 255, 0),
                                          (255, 0, 255))
BLACK = (0, 0, 0)
NAMED = (RED, BLUE, GREEN, CYAN, YELLOW, MAGENTA, BLACK)  # a pixel is read as one within a JPEG's error
TIMEOUT = 30.0


def name_order_folder(folder):
    os.mkdir(os.path.join(folder, "写真"))
    picture_folder.bitmap(os.path.join(folder, "a-upright.bmp"), 1600, 900, RED, BLUE)  # larger than the screen
    open(os.path.join(folder, "b-broken.bmp"), "wb").write(b"BM\x36\0\0\0 not a picture at all " * 4)
    sideways = os.path.join(folder, "d-café-한.jpg")  # stored sideways, orientation 6
    picture_folder.photo(sideways, 300, 400, GREEN, YELLOW, orientation=6)
    open(os.path.join(folder, "c-broken.jpg"), "wb").write(open(sideways, "rb").read()[:200])  # cut in its header
    picture_folder.photo(os.path.join(folder, "写真", "e-猫.jpg"), 400, 300, CYAN, CYAN)
    picture_folder.photo(os.path.join(folder, "写真", "f-24mp.jpg"), 6000, 4000, MAGENTA, BLUE)


def rgb(pixel_bgr):
    pixel = tuple(reversed(pixel_bgr))
    return next((c for c in NAMED if sum(abs(a - b) for a, b in zip(c, pixel)) < 60), pixel)


class FolderTest(SessionTest):

    def start_with_folder(self, make, order=0, fit=1, switch=1, path=None):
        """A fresh folder beside the prefix, filled by `make(folder)`, shown."""
        folder = tempfile.mkdtemp(prefix="e2e-folder-", dir=pictures.WORK_PARENT)
        self.addCleanup(shutil.rmtree, folder, True)
        make(folder)
        harness.set_settings(self.session, t1=switch, t2=0, t4=order, t6=fit, t7=1)
        harness.reg_add(self.session, harness.SETTINGS_KEY, "t8", "REG_SZ",
                        path or harness.windows_path(folder))
        before = picture_folder.snapshot(folder)
        proc, window = self.start_fullscreen("/s")
        return folder, before, proc, window

    def watch(self, screen, points, shows, timeout=TIMEOUT, each=None):
        """The pictures the screen shows, one entry per change: the colours at
        `points` (black ones left out), until `shows` pictures came. One grab
        holds all points, so that no drawing falls between them."""
        seen = []
        left, top = min(x for x, _ in points), min(y for _, y in points)
        width, height = max(x for x, _ in points) - left + 1, max(y for _, y in points) - top + 1
        deadline = time.monotonic() + timeout
        while len(seen) < shows and time.monotonic() < deadline:
            rows = screen.grab(left, top, width, height)
            colours = tuple(rgb(rows[y - top][3 * (x - left):3 * (x - left) + 3]) for x, y in points)
            if colours != (BLACK,) * len(points) and (not seen or seen[-1] != colours):
                seen.append(colours)
                if each:
                    each(colours)
            time.sleep(0.03)
        return seen

    def assertUnchanged(self, folder, before):
        self.assertEqual(picture_folder.snapshot(folder), before, "a file of the folder changed")


class OneMonitor(FolderTest):
    screen = (1024, 768)

    # Fitted to 1024 x 768: each picture's colours at two points, and a pixel
    # just inside and just outside two of its corners.
    FITTED = {
        (RED, BLUE): [((2, 98), RED), ((2, 93), BLACK), ((1021, 669), BLUE), ((1021, 674), BLACK)],
        (GREEN, YELLOW): [((226, 2), GREEN), ((221, 2), BLACK), ((797, 765), YELLOW), ((802, 765), BLACK)],
        (CYAN, CYAN): [((0, 0), CYAN), ((1023, 767), CYAN)],
        (MAGENTA, BLUE): [((2, 44), MAGENTA), ((2, 39), BLACK), ((1021, 722), BLUE), ((1021, 727), BLACK)],
    }

    def test_every_good_picture_appears_upright_and_fitted_and_the_broken_ones_are_skipped(self):
        s = self.session
        folder, before, proc, window = self.start_with_folder(name_order_folder)
        wrong = []
        with pictures.Screen(s) as screen:
            def corners(colours):
                time.sleep(0.1)  # the whole of an instant reveal is on the screen by now
                wrong.extend((colours, point) for point, colour in self.FITTED.get(colours, [])
                             if rgb(screen.grab(*point, 1, 1)[0]) != colour)
                shot = {(RED, BLUE): "folder-fitted", (GREEN, YELLOW): "folder-photo-upright"}.get(colours)
                if shot:
                    harness.screenshot(s, shot)
            seen = self.watch(screen, [(512, 200), (512, 600)], 8, each=corners)
        self.assertEqual(seen, [(RED, BLUE), (GREEN, YELLOW), (CYAN, CYAN), (MAGENTA, BLUE)] * 2,
                         "name order, depth-first, broken files passed over")
        self.assertEqual(wrong, [], "pictures not fitted where expected")
        self.close_with_key(proc, window)
        self.assertUnchanged(folder, before)

    def test_input_closes_the_saver_while_a_24_mp_photo_decodes(self):
        proc, window = self.start_with_folder(lambda f: picture_folder.photo(
            os.path.join(f, "noise.jpg"), 6000, 4000, (128,) * 3, (128,) * 3, noise=True), switch=600)[2:]
        with pictures.Screen(self.session) as screen:
            self.assertTrue(pictures.is_black(screen.grab(0, 0, 1024, 768)), "the photo is decoding still")
        self.close_with_key(proc, window)

    def test_a_missing_folder_falls_back_to_the_built_in_pictures(self):
        proc, window = self.start_with_folder(lambda f: None, fit=0, switch=600, path=r"Z:\no\such\folder")[2:]
        picture = pictures.reference(self.session, 1)
        with pictures.Screen(self.session) as screen:
            self.assertTrue(harness.wait_until(
                lambda: pictures.first_mismatch(screen.grab(192, 144, 640, 480), picture) is None, TIMEOUT),
                "built-in picture 1 at its own size")
        self.close_with_key(proc, window)

    def test_the_deck_shows_no_repeats_before_a_full_pass_and_resumes_in_the_next_run(self):
        s = self.session
        colours = [RED, GREEN, BLUE, YELLOW, MAGENTA]

        def deck_folder(folder):
            for i, colour in enumerate(colours):
                picture_folder.bitmap(os.path.join(folder, f"p{i}.bmp"), 400, 300, colour)
        folder, before, proc, window = self.start_with_folder(deck_folder, order=1, switch=2)
        with pictures.Screen(s) as screen:
            first = self.watch(screen, [(512, 384)], 3)
        self.close_with_key(proc, window)
        self.assertEqual(harness.reg_query(s, "t10"), ("REG_DWORD", 3), "the deck's place after three")
        proc, window = self.start_fullscreen("/s")
        with pictures.Screen(s) as screen:
            second = self.watch(screen, [(512, 384)], 2)
        self.close_with_key(proc, window)
        self.assertEqual(sorted(c[0] for c in first + second), sorted(colours),
                         "a full pass over two runs shows each once")
        self.assertUnchanged(folder, before)


class TwoMonitors(FolderTest):
    monitors = [("1024x768", ()), ("800x600", ("--left-of", "DUMMY0"))]

    def test_each_monitor_shows_the_picture_fitted_to_its_own_shape(self):
        s = self.session
        folder, before, proc, window = self.start_with_folder(
            lambda f: picture_folder.bitmap(os.path.join(f, "wide.bmp"), 1600, 900, RED, BLUE), switch=600)
        with pictures.Screen(s) as screen:
            def fitted(x, y, w, h):
                shown = w * 9 // 16
                top, bottom = y + (h - shown) // 2, y + (h + shown) // 2
                expected = {(x + 2, top + 2): RED, (x + w - 3, bottom - 3): BLUE, (x + 2, top - 3): BLACK,
                            (x + w // 2, bottom + 2): BLACK}
                return all(rgb(screen.grab(px, py, 1, 1)[0]) == c for (px, py), c in expected.items())
            self.assertTrue(harness.wait_until(lambda: all(fitted(*output) for output in s.outputs), TIMEOUT),
                            "the picture fitted on each monitor")
            harness.screenshot(s, "folder-monitors-fitted")
        self.close_with_key(proc, window)
        self.assertUnchanged(folder, before)


if __name__ == "__main__":
    harness.main()
