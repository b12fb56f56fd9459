"""The private X displays the tests run on: Xvfb, or Xorg's dummy driver for
several monitors; and what the X server itself tells about the screen (the
stacking of top-level windows, the pointer's image)."""

import contextlib
import ctypes
import os
import re
import select
import signal
import subprocess
import time

from paths import ARTEFACTS, BUILD
from wine import kill_group, probe
from waits import wait_until

_sessions = []

# Xorg's dummy driver: monitors that xrandr lays out, which Wine sees as such
# (Xvfb's Xinerama screens it sees as one monitor).
XORG_CONFIG = """Section "ServerFlags"
    Option "AutoAddDevices" "false"
    Option "DontVTSwitch" "true"
EndSection
Section "Device"
    Identifier "dummy"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
EndSection
Section "Screen"
    Identifier "screen"
    Device "dummy"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Virtual 4000 2400
    EndSubSection
EndSection
"""



def start_x_server(width, height, depth, monitors=False):
    """Starts a private X server and returns its process and display name once
    it accepts clients (it writes its display number to -displayfd then)."""
    read_end, write_end = os.pipe()
    # -noreset: otherwise the server resets whenever its last client leaves,
    # and the pointer jumps back to the middle of the screen.
    command = ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x{depth}"]
    if monitors:
        config = os.path.join(BUILD, "e2e-xorg.conf")
        with open(config, "w") as f:
            f.write(XORG_CONFIG)
        command = ["Xorg", "-displayfd", str(write_end), "-config", config, "-logfile",
                   os.path.join(ARTEFACTS, "xorg.log")]
    server = subprocess.Popen(
        command + ["-nolisten", "tcp", "-noreset"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    os.close(write_end)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read_end], [], [], 0.5)
        if ready:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
    os.close(read_end)
    if not number.strip():
        kill_group(server)
        raise RuntimeError(f"{command[0]} did not start")
    return server, ":" + number.decode().strip()


def stop_x_server(proc):
    """Xorg puts its virtual terminal and lock file back only when asked to end."""
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(timeout=10)
    kill_group(proc)


def set_monitors(session, monitors, wine_running=True):
    """Lays out the dummy driver's monitors: [(mode, placement)] for DUMMY0 (the
    primary), DUMMY1 and so on, placement as xrandr takes it, for example
    ("--left-of", "DUMMY0"). The session's size becomes the whole screen's.
    Wine learns of the layout a little later; with `wine_running` this waits
    until its programs see it."""
    def xrandr(*args, check=True):
        return subprocess.run(["xrandr", *args], env=session.env, check=check, timeout=30,
                              capture_output=True).stdout.decode()
    for i, (mode, placement) in enumerate(monitors):
        xrandr("--addmode", f"DUMMY{i}", mode, check=False)  # refused when the output has it already
        xrandr("--output", f"DUMMY{i}", "--mode", mode, *placement)
    # Wine may still see the old layout without this full probe.
    layout = xrandr("-q")
    current = layout.split("current ", 1)[1].split(",", 1)[0]
    session.width, session.height = (int(side) for side in current.split(" x "))
    # Each monitor as (x, y, width, height) on the root, DUMMY0 first.
    session.outputs = [(int(x), int(y), int(w), int(h)) for w, h, x, y in
                       re.findall(r" connected (?:primary )?(\d+)x(\d+)\+(\d+)\+(\d+)", layout)]
    size = {"width": session.width, "height": session.height}
    if wine_running and not wait_until(lambda: probe(session, "screen")[1] == [size], 30, interval=0.5):
        raise RuntimeError(f"Wine does not see the screen as {size}")



class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def cursor_visible_pixels(session):
    """How many pixels of the pointer's current image are not transparent,
    read from the X server (XFixes): what the person at the screen sees."""
    xfixes = ctypes.CDLL("libXfixes.so.3")
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    with x_connection(session) as display:
        image_pointer = xfixes.XFixesGetCursorImage(display)
        if not image_pointer:
            raise RuntimeError("XFixesGetCursorImage failed")
        image = image_pointer.contents
        count = sum(1 for i in range(image.width * image.height) if (image.pixels[i] >> 24) & 0xFF)
        xlib().XFree(image_pointer)
        return count


class _WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int), ("height", ctypes.c_int),
                ("border_width", ctypes.c_int), ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("window_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
                ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
                ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


IS_VIEWABLE = 2


_xlib = None


def xlib():
    """libX11, loaded once, with the signatures of the calls the harness makes."""
    global _xlib
    if _xlib is None:
        lib = ctypes.CDLL("libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                   ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                   ctypes.POINTER(ctypes.c_uint)]
        lib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_WindowAttributes)]
        lib.XFree.argtypes = [ctypes.c_void_p]
        _xlib = lib
    return _xlib


def open_x_display(session):
    """A new connection to the session's X server; the caller closes it."""
    display = xlib().XOpenDisplay(session.display.encode())
    if not display:
        raise RuntimeError("cannot open " + session.display)
    return display


@contextlib.contextmanager
def x_connection(session):
    """A connection to the session's X server for one piece of work."""
    display = open_x_display(session)
    try:
        yield display
    finally:
        xlib().XCloseDisplay(display)


def x_stack(session):
    """The X windows straight below the root, topmost first, as
    [(xwin, viewable, x, y, width, height)]: the stacking order a person sees."""
    x = xlib()
    with x_connection(session) as display:
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        kids, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not x.XQueryTree(display, x.XDefaultRootWindow(display), ctypes.byref(root), ctypes.byref(parent),
                            ctypes.byref(kids), ctypes.byref(count)):
            raise RuntimeError("XQueryTree failed")
        stack = []
        for i in reversed(range(count.value)):  # XQueryTree lists bottom first
            attributes = _WindowAttributes()
            if x.XGetWindowAttributes(display, kids[i], ctypes.byref(attributes)):
                stack.append((kids[i], attributes.map_state == IS_VIEWABLE, attributes.x, attributes.y,
                              attributes.width, attributes.height))
        if kids:
            x.XFree(kids)
        return stack


def x_geometry(session, xwin):
    """(x, y, width, height, viewable) of a top-level X window."""
    for window, viewable, x, y, width, height in x_stack(session):
        if window == xwin:
            return x, y, width, height, viewable
    return None


def x_top_window(session):
    """The topmost viewable X window."""
    return next((w[0] for w in x_stack(session) if w[1]), None)

