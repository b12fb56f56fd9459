"""The picture folders the end-to-end tests show: bitmaps written here, photos
made with ImageMagick and cjpeg (progressive) with an EXIF orientation written
here, broken files, names in Japanese and outside code page 932; and a
snapshot of a folder, to show that a run leaves every file as it was."""

import hashlib
import os
import struct
import subprocess


def bitmap(path, width, height, top, bottom=None):
    """A 24-bit bitmap file: its upper half `top`, its lower half `bottom`
    (RGB), so that a picture shown upside down or sideways is told apart."""
    bottom = bottom or top
    stride = (width * 3 + 3) & ~3
    rows = b"".join((bytes(reversed(bottom if y < height // 2 else top)) * width).ljust(stride, b"\0")
                    for y in range(height))  # bottom-up
    header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + rows)


def with_orientation(jpeg, orientation):
    """The JPEG with an EXIF segment right behind its SOI naming `orientation`."""
    ifd = struct.pack("<HHHIHHI", 1, 0x0112, 3, 1, orientation, 0, 0)
    exif = b"Exif\0\0" + b"II*\0" + struct.pack("<I", 8) + ifd
    return jpeg[:2] + b"\xff\xe1" + struct.pack(">H", len(exif) + 2) + exif + jpeg[2:]


def photo(path, width, height, top, bottom, orientation=1, quality=90, noise=False):
    """A progressive JPEG whose upright picture is width x height, `top` over
    `bottom` (with `noise`, as costly to decode as photos come), stored as
    orientation 6 (sideways) when asked."""
    upright = ["-size", f"{width}x{height}", f"xc:rgb{top}", "(", "-size", f"{width}x{height - height // 2}",
               f"xc:rgb{bottom}", ")", "-gravity", "south", "-composite"]
    turn = (["-rotate", "-90"] if orientation == 6 else []) + (["+noise", "Random"] if noise else [])
    ppm = subprocess.run(["convert", *upright, *turn, "ppm:-"], check=True, capture_output=True, timeout=120).stdout
    jpeg = subprocess.run(["cjpeg", "-progressive", "-quality", str(quality)], input=ppm, check=True,
                          capture_output=True, timeout=120).stdout
    with open(path, "wb") as f:
        f.write(with_orientation(jpeg, orientation) if orientation != 1 else jpeg)


def snapshot(folder):
    """{path below the folder: (size, modification time, SHA-1)} of every file."""
    found = {}
    for parent, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(parent, name)
            with open(path, "rb") as f:
                digest = hashlib.sha1(f.read()).hexdigest()
            stat = os.stat(path)
            found[os.path.relpath(path, folder)] = (stat.st_size, stat.st_mtime_ns, digest)
    return found
