"""Screenshots of a session's display (ImageMagick) and what the tests read
from them."""

import os
import subprocess
import time

from paths import ARTEFACTS


def screenshot(session, name):
    path = os.path.join(ARTEFACTS, name + ".png")
    subprocess.run(["import", "-display", session.display, "-window", "root", path], env=session.env,
                   check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return path


def region_stats(path, rect):
    """Mean and standard deviation (0..1) of the grey levels inside
    rect = [left, top, right, bottom] of a screenshot."""
    left, top, right, bottom = rect
    geometry = f"{right - left}x{bottom - top}+{left}+{top}"
    out = subprocess.run(["convert", path, "-crop", geometry, "+repage", "-colorspace", "Gray", "-format",
                          "%[fx:mean] %[fx:standard_deviation]", "info:"],
                         check=True, timeout=30, capture_output=True).stdout.decode().split()
    return float(out[0]), float(out[1])


def settled_screenshot(session, name, rect, timeout=15.0):
    """A screenshot taken once the region has something drawn in it (it is not
    one flat colour) and two shots in a row agree: painting has finished."""
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        path = screenshot(session, name)
        stats = region_stats(path, rect)
        if stats[1] > 0.01 and stats == previous:
            return path
        if time.monotonic() > deadline:
            raise AssertionError(f"{name}: the screen did not settle (region stats {stats})")
        previous = stats
        time.sleep(0.3)


def pixels_changed(first, second):
    """How many pixels differ between two screenshots."""
    out = subprocess.run(["compare", "-metric", "AE", first, second, "null:"], capture_output=True,
                         timeout=60).stderr.decode().split()
    return int(float(out[0])) if out else -1


def wait_screen_still(session, name, timeout=15.0):
    """Waits until two screenshots in a row are the same: whatever was being
    drawn (a repaint after a window went away) has reached the screen."""
    deadline = time.monotonic() + timeout
    previous = screenshot(session, name + "-still-a")
    while True:
        current = screenshot(session, name + ("-still-b" if previous.endswith("-a.png") else "-still-a"))
        if pixels_changed(previous, current) == 0:
            return current
        if time.monotonic() > deadline:
            raise AssertionError(f"{name}: the screen keeps changing")
        previous = current
