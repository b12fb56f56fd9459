#!/usr/bin/env python3
"""How each picture comes onto the screen, watched from the X server while it
happens: row by row, as a picture that slides down into place from the top
edge of its place, then standing for the switching interval before the next
one follows in catalogue order; or, with no reveal interval, whole at once."""

import os
import time

import harness
import pictures
from harness import SessionTest

TARGET = (192, 144, 640, 480)  # a 640 x 480 picture at its own size on 1024 x 768
REVEAL_MS = 10  # Wine's shortest timer interval: a 480-row reveal takes about 5 seconds
SWITCH = 2
GRAB_INTERVAL = 0.02


class Frame:
    """One grab of the target area and what it shows; the X server took it
    between `start` and `end`."""

    def __init__(self, start, rows, end):
        self.start, self.rows, self.end = start, rows, end


class Reveal(SessionTest):
    screen = (1024, 768)

    def watch(self, screen, until, timeout):
        """Grabs the target area until `until(frame)` is true; returns the frames."""
        frames = []
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            frame = Frame(time.monotonic(), screen.grab(*TARGET), time.monotonic())
            frames.append(frame)
            if until(frame):
                return frames
            time.sleep(GRAB_INTERVAL)
        self.fail(f"gave up watching after {timeout} s")

    def first_difference(self, rows, picture, below, k, start=0):
        """The first row from `start` on where the grab differs from what the
        screen shows with the band of `picture` k rows deep (the picture's k
        lowest rows at the top, below them what was there before: `below`, or
        black); None when it does not differ."""
        top = picture.height - k
        for y in range(start, len(rows)):
            if y < k:
                expected = picture.rows[top + y]
            else:
                expected = below.rows[y] if below is not None else bytes(len(rows[y]))
            if rows[y] != expected:
                return y
        return None

    def band_depth(self, rows, picture, below):
        """(k, torn): the band depth k that this grab shows, and whether it is
        torn; None when the grab is not `picture` sliding in over `below`.

        Wine copies the program's drawing to the X server after it is made,
        and a grab that falls into that copy may show the newer band down to
        some row and an older, shallower band from that row on: torn. Nothing
        else is accepted: not rows out of order, a band away from the top edge
        or a picture row in the wrong place."""
        places = self.row_index[picture.number]
        for y in places.get(rows[0], [picture.height]):
            k = picture.height - y
            split = self.first_difference(rows, picture, below, k)
            if split is None:
                return k, False
            # Row `split` is then either a picture row of an older band or,
            # with an older band shallower than `split`, a row from before.
            older = {split} | {picture.height - y2 + split for y2 in places.get(rows[split], [])}
            if any(k2 < k and self.first_difference(rows, picture, below, k2, split) is None for k2 in older):
                return k, True
        return None

    def setUp(self):
        self.row_index = {}
        for number in (1, 2, 3):
            picture = pictures.reference(self.session, number)
            # A picture may repeat a row (a flat sky): each row maps to every place it has.
            places = self.row_index[number] = {}
            for y, row in enumerate(picture.rows):
                places.setdefault(row, []).append(y)

    def test_row_by_row_the_picture_slides_down_stays_and_the_next_follows(self):
        s = self.session
        harness.set_settings(s, t1=SWITCH, t2=REVEAL_MS, t4=0, t6=0)
        shown = [pictures.reference(s, n) for n in (1, 2, 3)]
        proc, window = self.start_fullscreen("/s")
        # Grab times around each picture's completion and the start of the next.
        last_incomplete, first_complete, last_standing, first_band = {}, {}, {}, {}
        with pictures.Screen(s) as screen:
            for index, picture in enumerate(shown):
                before = shown[index - 1] if index else None
                if index == 0:
                    self.keep_mid_reveal_screenshot(screen, picture)
                frames = self.watch(screen, lambda f: f.rows == picture.rows, timeout=30)
                self.assertGreater(len(frames), 1, f"picture {picture.number} was never seen incomplete")
                first_complete[picture.number], last_incomplete[picture.number] = frames[-1].end, frames[-2].start
                depths = []
                for frame in frames:
                    if before is not None and frame.rows == before.rows:
                        last_standing[before.number] = frame.start  # the previous picture, still standing
                        continue
                    if pictures.is_black(frame.rows):
                        continue  # before the first picture's first row
                    depth = self.band_depth(frame.rows, picture, before)
                    self.assertIsNotNone(depth, f"picture {picture.number}: a grab that is not its sliding band")
                    depths.append((frame.end, depth))
                if before is not None:
                    first_band[before.number] = depths[0][0]
                # The band only ever grows, through many depths on the way.
                ks = [k for _, (k, _) in depths]
                self.assertEqual(ks, sorted(ks), f"picture {picture.number}: the band shrank")
                partial = {k for k in ks if 0 < k < picture.height}
                self.assertGreater(len(partial), 50, f"picture {picture.number}: too few steps seen")
                torn = sum(1 for _, (_, is_torn) in depths if is_torn)
                self.assertLess(torn, len(depths) // 10 + 1, f"picture {picture.number}: {torn} torn grabs")
            # The last picture stands for the switch interval as well: it was
            # complete after the last grab that showed it incomplete.
            still = self.watch(screen, lambda f: f.rows != shown[-1].rows or f.start - last_incomplete[3] > SWITCH,
                               timeout=SWITCH + 5)
            if still[-1].rows != shown[-1].rows:
                self.assertGreater(still[-1].end - last_incomplete[3], SWITCH, "picture 3 did not stand")
        for number in (1, 2):
            # The grabs bound the time a picture stood from both sides, however
            # long the X server took to answer them. It is the switch interval plus a few ticks and
            # the next decode: the interval starts at the tick after the last row.
            at_most = first_band[number] - last_incomplete[number]
            at_least = last_standing[number] - first_complete[number]
            self.assertGreater(at_most, SWITCH, f"picture {number} stood less than {at_most:.2f} s")
            self.assertLess(at_least, SWITCH + 1.0, f"picture {number} stood more than {at_least:.2f} s")
        self.close_with_key(proc, window)

    def keep_mid_reveal_screenshot(self, screen, picture):
        """Waits for the first picture's band to be half-way down (give or take
        a tenth of the picture) and
        keeps that screenshot of the whole screen, checked like every grab."""
        ss = self.session
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            rows = screen.grab(0, 0, ss.width, ss.height)
            target = [row[3 * TARGET[0]:3 * (TARGET[0] + TARGET[2])] for row in rows[TARGET[1]:TARGET[1] + TARGET[3]]]
            depth = self.band_depth(target, picture, None)
            if depth and not depth[1] and abs(depth[0] - picture.height // 2) < picture.height // 10:
                outside = rows[:TARGET[1]] + rows[TARGET[1] + TARGET[3]:] + \
                    [row[:3 * TARGET[0]] + row[3 * (TARGET[0] + TARGET[2]):] for row in rows[TARGET[1]:TARGET[1] + TARGET[3]]]
                self.assertTrue(pictures.is_black(outside), "the screen around the target is black")
                pictures.save_png(rows, os.path.join(harness.ARTEFACTS, "slideshow-mid-reveal.png"))
                return
            time.sleep(GRAB_INTERVAL)
        self.fail("no grab with the band half-way down")

    def test_instant_reveal_draws_each_picture_whole_at_once(self):
        s = self.session
        harness.set_settings(s, t1=1, t2=0, t4=0, t6=0)
        shown = {n: pictures.reference(s, n) for n in (1, 2, 3)}
        proc, window = self.start_fullscreen("/s")
        sequence = []
        with pictures.Screen(s) as screen:
            frames = self.watch(screen, lambda f: f.rows == shown[3].rows, timeout=20)
        for frame in frames:
            if pictures.is_black(frame.rows):
                self.assertEqual(sequence, [], "black after a picture")
                continue
            number = next((n for n, p in shown.items() if frame.rows == p.rows), None)
            self.assertIsNotNone(number, "a grab that shows no whole picture")
            if not sequence or sequence[-1] != number:
                sequence.append(number)
        self.assertEqual(sequence, [1, 2, 3])
        self.close_with_key(proc, window)


if __name__ == "__main__":
    harness.main()
