#!/usr/bin/env python3
"""End-to-end harness: runs the real Dunmere.scr under Wine on a private X
display, drives it with real X input (xdotool), looks at it with screenshots
(ImageMagick) and a probe program, and reads and writes its registry settings
with `wine reg`.

A session is one private X display (Xvfb, or Xorg's dummy driver for several
monitors) plus the Wine server of the shared e2e
prefix. Every process a session starts is ended when the session stops, also
when a test fails or the run is interrupted; the Wine server is ended with
`wineserver -k`, and whatever still carries the prefix in its environment
afterwards counts as a leak and fails the test.

Used as a program it prepares and cleans up the shared prefix (the CTest
fixture):  harness.py prepare | cleanup
"""

import contextlib
import ctypes
import fcntl
import glob
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BUILD = os.environ.get("DUNMERE_BUILD_DIR", os.path.join(ROOT, "build", "win32"))
SCR = os.environ.get("DUNMERE_SCR", os.path.join(BUILD, "Dunmere.scr"))
PROBE = os.environ.get("DUNMERE_E2E_PROBE", os.path.join(BUILD, "tests", "e2e", "window_probe.exe"))
SENDER = os.environ.get("DUNMERE_E2E_SENDER", os.path.join(BUILD, "tests", "e2e", "send_to_saver.exe"))
HOST = os.environ.get("DUNMERE_E2E_HOST", os.path.join(BUILD, "tests", "e2e", "preview_host.exe"))
PREFIX = os.environ.get("DUNMERE_E2E_PREFIX", os.path.join(BUILD, "wine-e2e"))
ARTEFACTS = os.environ.get("DUNMERE_E2E_ARTEFACTS", os.path.join(BUILD, "e2e-artefacts"))

SETTINGS_KEY = r"HKCU\Software\Mirelvane\Dunmere"
SAVER_CLASS = "WindowsScreenSaverClass"
DIALOG_CLASS = "#32770"
EXIT_MINUS_ONE = 255  # how Wine reports the exit code -1 to its Unix caller
DWORD_MINUS_ONE = 0xFFFFFFFF  # the same code as a Windows parent sees it
# Wine takes each program's ANSI code page from its locale: 932 as the users', or 1252.
JAPANESE, ENGLISH = "ja_JP.UTF-8", "en_US.UTF-8"

# A close of a managed window takes about two seconds here: with no window
# manager Wine waits that long for the window to be withdrawn.
CLOSE_TIMEOUT = 10.0
# How long a test waits before it believes that input was ignored. Input that
# closes the saver is handled within a few milliseconds of its arrival.
SETTLE = 1.5

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


# ---------------------------------------------------------------- processes

def _base_env(display):
    env = dict(os.environ)
    env.update({
        "DISPLAY": display,
        "WINEPREFIX": PREFIX,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        # Wine's ANSI code page follows the locale: 932, as on the users' systems.
        "LANG": JAPANESE,
        "LC_ALL": JAPANESE,
    })
    return env


def _prefix_processes():
    """Processes that run in the e2e prefix: Wine passes WINEPREFIX on to every
    process it starts, the server and its helpers included."""
    marker = b"WINEPREFIX=" + os.fsencode(PREFIX) + b"\0"
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open(f"/proc/{name}/environ", "rb") as f:
                environ = f.read() + b"\0"
            with open(f"/proc/{name}/stat", "rb") as f:
                state = f.read().rsplit(b")", 1)[1].split()[0]
        except OSError:
            continue
        if marker in environ and state != b"Z":
            found.append(int(name))
    return found


def _kill_group(proc):
    if proc.poll() is None:
        try:
            os.killpg(proc.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    try:
        proc.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass
    for pipe in (proc.stdin, proc.stdout, proc.stderr):
        if pipe:
            try:
                pipe.close()
            except OSError:  # a writer whose reader is gone
                pass


def _stop_x_server(proc):
    """Xorg puts its virtual terminal and lock file back only when asked to end."""
    if proc.poll() is None:
        os.killpg(proc.pid, signal.SIGTERM)
        with contextlib.suppress(subprocess.TimeoutExpired):
            proc.wait(timeout=10)
    _kill_group(proc)


def _wineserver_kill(env):
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=30, check=False)


def _end_prefix_processes(env, timeout=15.0):
    """Ends the prefix's Wine server and waits until nothing of it is left.
    Returns what had to be killed by force (a leak)."""
    _wineserver_kill(env)
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not _prefix_processes():
            return []
        time.sleep(0.1)
    leaked = _prefix_processes()
    for pid in leaked:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return leaked


# ---------------------------------------------------------------- sessions

def _lock_prefix(wait=280.0):
    """One session at a time in the prefix, also when two CTest runs share a
    build (CTest's resource lock holds only within one run). The fixture takes
    it too, since it ends the prefix's server."""
    os.makedirs(os.path.dirname(PREFIX), exist_ok=True)
    lock = open(PREFIX + ".session.lock", "w")
    deadline = time.monotonic() + wait
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return lock
        except BlockingIOError:
            if time.monotonic() > deadline:
                lock.close()
                raise RuntimeError("the e2e prefix stays busy with another session")
            time.sleep(0.5)


def start_session(width=1024, height=768, depth=24, desktop=None, managed=False, monitors=None):
    """Starts a private Xvfb and readies the shared prefix for it. `monitors`
    starts Xorg's dummy driver instead, laid out as `set_monitors` does, with
    the root painted a colour the saver never shows. `desktop`
    runs every program of the prefix inside a Wine virtual desktop of the
    screen's size (Wine then draws window captions, as a person sees them).
    `managed` lets Wine treat its windows as a window manager's; there is none,
    so each window that goes away then costs a two-second wait, and unmanaged
    windows keep the suite fast. The X cursor of a window shows only when it is
    managed, though."""
    os.makedirs(ARTEFACTS, exist_ok=True)
    lock = _lock_prefix()

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
    xvfb = subprocess.Popen(
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
        _kill_group(xvfb)
        lock.close()
        raise RuntimeError(f"{command[0]} did not start")

    session = types.SimpleNamespace(
        display=":" + number.decode().strip(), xvfb=xvfb, lock=lock, procs=[], width=width, height=height,
        desktop=desktop)
    session.env = _base_env(session.display)
    _sessions.append(session)
    if monitors:
        set_monitors(session, monitors, wine_running=False)
        subprocess.run(["xsetroot", "-solid", "#ff00ff"], env=session.env, check=True, timeout=15)
    with open(PREFIX + ".xvfb.pid", "w") as f:
        f.write(str(xvfb.pid))
    # A server left from an earlier session knows another display and mode.
    _end_prefix_processes(session.env)
    reg_add(session, r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "Y" if managed else "N")
    # Every session says whether it wants the desktop, so that one that was
    # cut short cannot leave it to the next.
    if desktop:
        reg_add(session, r"HKCU\Software\Wine\Explorer\Desktops", desktop, "REG_SZ", f"{width}x{height}")
        reg_add(session, r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", desktop)
    else:
        _reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    return session


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


def end_process(proc):
    """Ends one process (and what it started) if it still runs: a failed case
    must not leave a saver that would stop the next one from starting."""
    _kill_group(proc)


def end_processes(session):
    """Ends every process that the session started and that still runs."""
    for proc in session.procs:
        _kill_group(proc)
    session.procs = []


def stop_session(session):
    """Stops everything the session started. Returns the pids that outlived
    `wineserver -k` and had to be killed (a leak)."""
    if session not in _sessions:
        return []
    _sessions.remove(session)
    end_processes(session)
    if session.desktop:
        _reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    leaked = _end_prefix_processes(session.env)
    _stop_x_server(session.xvfb)
    try:
        os.unlink(PREFIX + ".xvfb.pid")
    except FileNotFoundError:
        pass
    session.lock.close()
    return leaked


def stop_all_sessions():
    for session in list(_sessions):
        stop_session(session)


# ---------------------------------------------------------------- running Wine

def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def start(session, program, *args, stdin=None, stdout=None, locale=None):
    """Starts a Windows program in its own process group; the session ends it.
    `locale` replaces the session's Japanese one for this program."""
    env = dict(session.env, LANG=locale, LC_ALL=locale) if locale else session.env
    proc = subprocess.Popen(["wine", program, *args], env=env, start_new_session=True,
                            stdin=stdin, stdout=stdout or subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    session.procs.append(proc)
    return proc


def start_saver(session, *args, locale=None):
    return start(session, SCR, *args, locale=locale)


def run_saver(session, *args, timeout=20):
    """Runs the saver to its end; returns its exit code as Wine reports it."""
    proc = start_saver(session, *args)
    return wait_exit(proc, timeout)


def wait_exit(proc, timeout):
    """The exit code, or None when the process still runs after `timeout`."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


def run_wine(session, program, *args, timeout=30, locale=None):
    proc = start(session, program, *args, stdout=subprocess.PIPE, locale=locale)
    try:
        out, _ = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        _kill_group(proc)
        raise
    return proc.returncode, out


def probe(session, *args, timeout=30, locale=None):
    """Runs the window probe; returns its exit code and its JSON records."""
    code, out = run_wine(session, PROBE, *args, timeout=timeout, locale=locale)
    records = [json.loads(line) for line in out.decode("utf-8").splitlines() if line.strip()]
    return code, records


def top_windows(session):
    _, records = probe(session, "windows")
    return records[0]["foreground"], records[1:]


def saver_windows(session, title="Screen Saver"):
    _, windows = top_windows(session)
    return [w for w in windows if w["class"] == SAVER_CLASS and w["title"] == title]


def wait_window(session, window_class, title="*", timeout=15.0):
    """The first visible top-level window of that class and title, or None."""
    code, records = probe(session, "wait", window_class, title, str(int(timeout * 1000)), timeout=timeout + 20)
    return records[0] if code == 0 and records else None


def children(session, hwnd):
    return probe(session, "children", str(hwnd))[1]


def wait_child(session, hwnd, window_class, title, timeout=15.0):
    """The first visible child of that class and title, or None. A window is
    made visible only once its creation has finished."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        for child in children(session, hwnd):
            if child["class"] == window_class and child["title"] == title and child["visible"]:
                return child
        time.sleep(0.1)
    return None


def ansi_code_page(session, locale):
    """The ANSI code page of a program started in that locale."""
    return probe(session, "code-page", locale=locale)[1][0]["acp"]


def send_to_saver(session, *args):
    """Runs the message sender (see send_to_saver.cpp) against the full-screen saver."""
    code, _ = run_wine(session, SENDER, *args)
    if code != 0:
        raise RuntimeError(f"send_to_saver {' '.join(args)} failed")


def saver_running_flag(session):
    return probe(session, "saver-running")[1][0]["running"]


def set_saver_running_flag(session, on):
    code, _ = probe(session, "set-saver-running", "1" if on else "0")
    if code != 0:
        raise RuntimeError("could not set the screen-saver-running flag")


def spawn_exact(session, line, timeout=20.0):
    """Starts the saver with exactly the bytes `line` as its command line (the
    program name included, as the system passes it). Returns the probe process
    that waits for it; finish it with `spawned_exit`."""
    proc = start(session, PROBE, "spawn", windows_path(SCR), line.hex(), str(int(timeout * 1000)),
                 stdout=subprocess.PIPE)
    first = read_line(proc, timeout=20)
    record = json.loads(first) if first else {}
    if "pid" not in record:
        raise RuntimeError(f"spawn failed: {first!r}")
    return proc


def spawned_exit(proc, timeout=30.0):
    """The exit code of a spawned saver as a 32-bit number, and whether the
    probe had to end it because it ran too long."""
    line = read_line(proc, timeout=timeout)
    proc.wait(timeout=10)
    record = json.loads(line)
    return record["exit"], record["timeout"]


def run_exact(session, line, timeout=20.0):
    return spawned_exit(spawn_exact(session, line, timeout), timeout + 10)


def read_line(proc, timeout):
    """One line of a process's output, without blocking past `timeout`."""
    data = b""
    deadline = time.monotonic() + timeout
    fd = proc.stdout.fileno()
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0:
            return None
        ready, _, _ = select.select([fd], [], [], left)
        if not ready:
            continue
        byte = os.read(fd, 1)
        if not byte:
            break
        data += byte
    return data.decode("utf-8").strip() or None


# ---------------------------------------------------------------- preview host

def start_host(session, x=100, y=100, width=320, height=240):
    """Starts a host window that stands in for the display settings' preview.
    Returns the process and {"hwnd": N, "client": [0, 0, w, h]}."""
    proc = start(session, HOST, str(x), str(y), str(width), str(height), stdin=subprocess.PIPE,
                 stdout=subprocess.PIPE)
    line = read_line(proc, timeout=20)
    if not line:
        raise RuntimeError("the preview host did not start")
    return proc, json.loads(line)


def host_command(proc, command):
    proc.stdin.write(command.encode() + b"\n")
    proc.stdin.flush()


# ---------------------------------------------------------------- X input

def xdotool(session, *args, timeout=15):
    subprocess.run(["xdotool", *[str(a) for a in args]], env=session.env, check=True, timeout=timeout,
                   stdout=subprocess.DEVNULL)


def pointer(session):
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=session.env, check=True, timeout=15,
                         capture_output=True).stdout.decode()
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


def focus(session, window):
    """Gives a window's X window the keyboard focus; with no window manager
    nothing else does."""
    xdotool(session, "windowfocus", "--sync", window["xwin"])


def click_at(session, x, y, button=1):
    # One connection, so the server sees the move before the click.
    xdotool(session, "mousemove", x, y, "click", button)


def click_window(session, window, button=1):
    left, top, right, bottom = window["rect"]
    click_at(session, (left + right) // 2, (top + bottom) // 2, button)


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def cursor_visible_pixels(session):
    """How many pixels of the pointer's current image are not transparent,
    read from the X server (XFixes): what the person at the screen sees."""
    xlib = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xlib.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
    display = xlib.XOpenDisplay(session.display.encode())
    if not display:
        raise RuntimeError("cannot open " + session.display)
    try:
        image_pointer = xfixes.XFixesGetCursorImage(display)
        if not image_pointer:
            raise RuntimeError("XFixesGetCursorImage failed")
        image = image_pointer.contents
        count = sum(1 for i in range(image.width * image.height) if (image.pixels[i] >> 24) & 0xFF)
        xlib.XFree(image_pointer)
        return count
    finally:
        xlib.XCloseDisplay(display)


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


def x_stack(session):
    """The X windows straight below the root, topmost first, as
    [(xwin, viewable, x, y, width, height)]: the stacking order a person sees."""
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                                ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                                ctypes.POINTER(ctypes.c_uint)]
    xlib.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(_WindowAttributes)]
    xlib.XFree.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(session.display.encode())
    if not display:
        raise RuntimeError("cannot open " + session.display)
    try:
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        kids, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        if not xlib.XQueryTree(display, xlib.XDefaultRootWindow(display), ctypes.byref(root), ctypes.byref(parent),
                               ctypes.byref(kids), ctypes.byref(count)):
            raise RuntimeError("XQueryTree failed")
        stack = []
        for i in reversed(range(count.value)):  # XQueryTree lists bottom first
            attributes = _WindowAttributes()
            if xlib.XGetWindowAttributes(display, kids[i], ctypes.byref(attributes)):
                stack.append((kids[i], attributes.map_state == IS_VIEWABLE, attributes.x, attributes.y,
                              attributes.width, attributes.height))
        if kids:
            xlib.XFree(kids)
        return stack
    finally:
        xlib.XCloseDisplay(display)


def x_geometry(session, xwin):
    """(x, y, width, height, viewable) of a top-level X window."""
    for window, viewable, x, y, width, height in x_stack(session):
        if window == xwin:
            return x, y, width, height, viewable
    return None


def x_top_window(session):
    """The topmost viewable X window."""
    return next((w[0] for w in x_stack(session) if w[1]), None)


def wait_until(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)


# ---------------------------------------------------------------- screenshots

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


# ---------------------------------------------------------------- registry

def _reg(session, *args, check=True):
    proc = subprocess.run(["wine", "reg", *args], env=session.env, capture_output=True, timeout=60,
                          start_new_session=True)
    if check and proc.returncode != 0:
        raise RuntimeError(f"wine reg {' '.join(args)} failed: {proc.stdout.decode('cp932', 'replace')}")
    return proc


def reg_add(session, key, name, kind, data):
    _reg(session, "add", key, "/v", name, "/t", kind, "/d", str(data), "/f")


def reg_delete_key(session, key=SETTINGS_KEY):
    _reg(session, "delete", key, "/f", check=False)


def reg_query(session, name, key=SETTINGS_KEY):
    """(type, value) of a registry value, or None when it is missing.
    REG_DWORD values come back as signed 32-bit numbers, REG_BINARY as bytes."""
    proc = _reg(session, "query", key, "/v", name, check=False)
    if proc.returncode != 0:
        return None
    for line in proc.stdout.decode("cp932", "replace").splitlines():
        parts = line.split()
        if len(parts) >= 2 and parts[0] == name and parts[1].startswith("REG_"):
            kind, text = parts[1], parts[2] if len(parts) > 2 else ""
            if kind == "REG_DWORD":
                value = int(text, 16)
                return kind, value - (1 << 32) if value >= 1 << 31 else value
            if kind == "REG_BINARY":
                return kind, bytes.fromhex(text)
            return kind, line.split(kind, 1)[1].strip()
    return None


def settings(session):
    """The saver's stored settings: {name: value} for the REG_DWORD ones."""
    found = {}
    for name in ("t1", "t2", "t4", "t5", "t6"):
        value = reg_query(session, name)
        if value is not None:
            found[name] = value[1] if value[0] == "REG_DWORD" else value
    return found


def set_settings(session, **values):
    for name, value in values.items():
        reg_add(session, SETTINGS_KEY, name, "REG_DWORD", value & 0xFFFFFFFF)


# ---------------------------------------------------------------- test cases

class SessionTest(unittest.TestCase):
    """One session per test file; each case ends whatever it left running."""

    screen = (1024, 768)
    desktop = None
    managed = False
    monitors = None

    @classmethod
    def setUpClass(cls):
        cls.session = start_session(*cls.screen, desktop=cls.desktop, managed=cls.managed, monitors=cls.monitors)

    @classmethod
    def tearDownClass(cls):
        leaked = stop_session(cls.session)
        if leaked:
            raise AssertionError(f"processes outlived wineserver -k: {leaked}")

    def tearDown(self):
        end_processes(self.session)

    # Helpers shared by the test files.

    def start_fullscreen(self, *args):
        """Starts a full-screen run and waits for its window."""
        proc = start_saver(self.session, *args)
        return proc, self.wait_fullscreen(proc, args)

    def wait_fullscreen(self, proc, args=()):
        window = wait_window(self.session, SAVER_CLASS, "Screen Saver")
        self.assertIsNotNone(window, f"no full-screen window for {args}")
        self.assertIsNone(proc.poll(), f"the saver ended early for {args}")
        return window

    @contextlib.contextmanager
    def ending(self, proc):
        """Ends the process when the block is left, so that a failed subtest
        leaves nothing running into the next one."""
        try:
            yield proc
        finally:
            end_process(proc)

    def assertCloses(self, proc, what, timeout=CLOSE_TIMEOUT):
        code = wait_exit(proc, timeout)
        self.assertIsNotNone(code, f"{what}: the saver did not close")
        self.assertEqual(code, 0, f"{what}: exit code")

    def assertStaysOpen(self, proc, what, settle=SETTLE):
        time.sleep(settle)
        self.assertIsNone(proc.poll(), f"{what}: the saver closed")

    def close_with_key(self, proc, window):
        focus(self.session, window)
        xdotool(self.session, "key", "space")
        self.assertCloses(proc, "a key press")


def main():
    """Runs the calling test file's cases; stops every session on the way out,
    also when CTest's timeout or Ctrl+C ends the run."""
    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)
    signal.signal(signal.SIGHUP, interrupted)
    try:
        program = unittest.main(module="__main__", verbosity=2, exit=False)
        ok = program.result.wasSuccessful()
    finally:
        stop_all_sessions()
    sys.exit(0 if ok else 1)


# ---------------------------------------------------------------- fixture

def prepare():
    """Makes the shared prefix (once; it is reused while it is good) and sets
    what the end-to-end runs need in it."""
    subprocess.run([os.path.join(ROOT, "tools", "wine-prefix"), PREFIX], check=True, timeout=300,
                   stdout=subprocess.DEVNULL)
    lock = _lock_prefix()
    env = _base_env(os.environ.get("DISPLAY", ""))
    env.pop("DISPLAY")
    _end_prefix_processes(env)
    session = types.SimpleNamespace(env=env)
    # Screenshots must show what child windows draw (dialog controls), which
    # Wine's server-side graphics leave out of the X windows here.
    _reg(session, "delete", r"HKCU\Software\Wine\X11 Driver", "/v", "ClientSideGraphics", "/f", check=False)
    _reg(session, "delete", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/f", check=False)
    reg_delete_key(session, r"HKCU\Software\Mirelvane")
    # What a slideshow test that was cut short may have left: its relay log
    # setting, and a file or folder under the saver's temporary file name.
    _reg(session, "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f", check=False)
    for leftover in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "Temp", "tmp1.tmp")):
        if os.path.isdir(leftover):
            shutil.rmtree(leftover)
        else:
            os.unlink(leftover)
    _reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    leaked = _end_prefix_processes(env)
    lock.close()
    os.makedirs(ARTEFACTS, exist_ok=True)
    return 1 if leaked else 0


def cleanup():
    """Ends whatever a test that CTest had to kill left in the prefix."""
    lock = _lock_prefix()
    env = _base_env("")
    pid_file = PREFIX + ".xvfb.pid"
    if os.path.exists(pid_file):
        with open(pid_file) as f:
            pid = int(f.read().strip() or 0)
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if f.read().split(b"\0")[0].endswith((b"Xvfb", b"Xorg", b"Xorg.wrap")):
                    os.kill(pid, signal.SIGKILL)
        except (OSError, ValueError):
            pass
        os.unlink(pid_file)
    leaked = _end_prefix_processes(env)
    lock.close()
    if leaked:
        print(f"cleanup: killed processes left in {PREFIX}: {leaked}")
    return 0


if __name__ == "__main__":
    command = sys.argv[1] if len(sys.argv) > 1 else ""
    if command == "prepare":
        sys.exit(prepare())
    if command == "cleanup":
        sys.exit(cleanup())
    print("usage: harness.py prepare|cleanup", file=sys.stderr)
    sys.exit(2)
