"""The slideshow's pictures as the tests expect to see them, and the screen as
it is: each catalogue picture is taken from the built Dunmere.scr (wrestool),
completed with the ten JFIF bytes that the resources leave out and decoded with
the project's own jpegdib under Wine; the screen is read back from the X server
(XGetImage on the root window), fast enough to watch a reveal."""

import atexit
import ctypes
import os
import shutil
import struct
import subprocess
import tempfile

import harness
from display import open_x_display, xlib

JPEGDIB = os.environ.get("DUNMERE_JPEGDIB", os.path.join(harness.BUILD, "tools", "jpegdib", "jpegdib.exe"))
# Beside the prefix: in the build folder that the run belongs to.
WORK_PARENT = os.path.dirname(harness.PREFIX)
JFIF_PREFIX = bytes.fromhex("FFD8FFE000104A464946")
PICTURE_RESOURCE_BASE = 107


class Picture:
    """A decoded picture: `rows[y]` is row y from the top, blue-green-red bytes."""

    def __init__(self, number, width, height, rows):
        self.number, self.width, self.height, self.rows = number, width, height, rows

    def pixel(self, x, y):
        return self.rows[y][3 * x:3 * x + 3]


_decoded = {}
_work = None


def work_dir():
    global _work
    if _work is None:
        os.makedirs(WORK_PARENT, exist_ok=True)
        _work = tempfile.mkdtemp(prefix="e2e-pictures-", dir=WORK_PARENT)
        atexit.register(shutil.rmtree, _work, True)
    return _work


def resource_bytes(number):
    """Picture `number`'s resource bytes as built into the program."""
    return subprocess.run(["wrestool", "-x", "--raw", "--type=DAT", f"--name={PICTURE_RESOURCE_BASE + number}",
                           harness.SCR], check=True, capture_output=True, timeout=30).stdout


def read_bitmap_file(path, number=0):
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError(f"{path}: not a bitmap file")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or height <= 0:
        raise ValueError(f"{path}: expected a bottom-up 24-bit bitmap, got {bits} bits, height {height}")
    stride = (width * 3 + 3) & ~3
    rows = [data[offset + (height - 1 - y) * stride:offset + (height - 1 - y) * stride + width * 3]
            for y in range(height)]
    return Picture(number, width, height, rows)


def reference(session, number):
    """Picture `number` as `jpegdib decode` gives it (decoded once per run)."""
    if number not in _decoded:
        work = work_dir()
        jpeg = os.path.join(work, f"picture{number:02d}.jpg")
        bitmap = os.path.join(work, f"picture{number:02d}.bmp")
        with open(jpeg, "wb") as f:
            f.write(JFIF_PREFIX + resource_bytes(number))
        code, _ = harness.run_wine(session, JPEGDIB, "decode", harness.windows_path(jpeg),
                                   harness.windows_path(bitmap), timeout=60)
        if code != 0:
            raise RuntimeError(f"jpegdib decode failed for picture {number}: {code}")
        _decoded[number] = read_bitmap_file(bitmap, number)
    return _decoded[number]


# ---------------------------------------------------------------- the screen

class _XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_char)), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


_ALL_PLANES = 0xFFFFFFFF
_Z_PIXMAP = 2
_xlib = None


def _x():
    """libX11 with the image calls added to the harness's signatures."""
    global _xlib
    if _xlib is None:
        lib = xlib()
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetImage.restype = ctypes.POINTER(_XImage)
        lib.XDestroyImage.argtypes = [ctypes.POINTER(_XImage)]
        _xlib = lib
    return _xlib


class Screen:
    """One connection to the session's X server for repeated reads."""

    def __init__(self, session):
        self.display = open_x_display(session)
        self.root = _x().XDefaultRootWindow(self.display)

    def close(self):
        if self.display:
            _x().XCloseDisplay(self.display)
            self.display = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def grab(self, x, y, width, height):
        """Rows of the screen area, top first, as blue-green-red bytes. The X
        server answers the request as one, so a grab never shows half of a
        drawing operation."""
        image = _x().XGetImage(self.display, self.root, x, y, width, height, _ALL_PLANES, _Z_PIXMAP)
        if not image:
            raise RuntimeError("XGetImage failed")
        try:
            im = image.contents
            if im.bits_per_pixel != 32 or im.byte_order != 0:
                raise RuntimeError(f"unexpected screen format: {im.bits_per_pixel} bits, byte order {im.byte_order}")
            raw = ctypes.string_at(im.data, im.bytes_per_line * height)
            rows = []
            for row in range(height):
                line = raw[row * im.bytes_per_line:row * im.bytes_per_line + 4 * width]
                bgr = bytearray(3 * width)
                bgr[0::3], bgr[1::3], bgr[2::3] = line[0::4], line[1::4], line[2::4]
                rows.append(bytes(bgr))
            return rows
        finally:
            _x().XDestroyImage(image)


def is_black(rows):
    return all(not any(row) for row in rows)


def first_mismatch(rows, picture, source_x=0, source_y=0):
    """Compares screen rows with the picture's area of the same size that starts
    at (source_x, source_y), 1:1. Returns None when every pixel agrees, else
    the first differing (x, y) within `rows`."""
    width = len(rows[0]) // 3
    for y, row in enumerate(rows):
        expected = picture.rows[source_y + y][3 * source_x:3 * (source_x + width)]
        if row != expected:
            x = next(i for i in range(width) if row[3 * i:3 * i + 3] != expected[3 * i:3 * i + 3])
            return x, y
    return None


def scaled_mismatches(rows, picture, step=7):
    """How many of the sampled screen pixels (every `step`th row and column)
    differ from every pixel of the picture around the one that a scaling of
    the whole picture to the area of `rows` puts there. Enlarging repeats
    source pixels, so on an exact placement this is 0 whatever rounding the
    scaler uses; a placement or scale that is off by a few pixels is not."""
    height, width = len(rows), len(rows[0]) // 3
    misses = 0
    for y in range(0, height, step):
        sy = y * picture.height // height
        near_rows = [picture.rows[r] for r in (sy - 1, sy, sy + 1) if 0 <= r < picture.height]
        for x in range(0, width, step):
            sx = x * picture.width // width
            seen = rows[y][3 * x:3 * x + 3]
            if not any(row[3 * c:3 * c + 3] == seen for row in near_rows
                       for c in (sx - 1, sx, sx + 1) if 0 <= c < picture.width):
                misses += 1
    return misses


def sample_count(width, height, step=7):
    return len(range(0, height, step)) * len(range(0, width, step))


def save_png(rows, path):
    """Writes grabbed rows as a PNG file (an artefact a person can look at)."""
    height, width = len(rows), len(rows[0]) // 3
    subprocess.run(["convert", "-size", f"{width}x{height}", "-depth", "8", "bgr:-", "png:" + path],
                   input=b"".join(rows), check=True, timeout=60)
    return path
