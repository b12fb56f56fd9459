#!/usr/bin/env python3
"""End-to-end harness: runs the real Dunmere.scr under Wine on a private X
display, drives it with real X input (xdotool), looks at it with screenshots
(ImageMagick) and a probe program, and reads and writes its registry settings
with `wine reg`. Each of those concerns has its own module; this one holds the
sessions and the test case that the test files build on, and hands the tests
the other modules' helpers under one name.

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
import fcntl
import glob
import os
import shutil
import signal
import subprocess
import sys
import time
import types
import unittest

from display import (cursor_visible_pixels, set_monitors, start_x_server, stop_x_server, x_geometry, x_stack,
                     x_top_window)
from paths import ARTEFACTS, BUILD, HOST, PREFIX, PROBE, ROOT, SCR, SENDER
from registry import SETTINGS_KEY, reg, reg_add, reg_delete_key, reg_query, set_settings, settings
from screenshots import pixels_changed, region_stats, screenshot, settled_screenshot, wait_screen_still
from waits import read_line, wait_exit, wait_until
from wine import (DIALOG_CLASS, DWORD_MINUS_ONE, ENGLISH, EXIT_MINUS_ONE, JAPANESE, SAVER_CLASS, ansi_code_page,
                  base_env, children, end_prefix_processes, end_process, end_processes, host_command, probe,
                  run_exact, run_saver, run_wine, saver_running_flag, saver_windows, send_to_saver,
                  set_saver_running_flag, spawn_exact, spawned_exit, start, start_host, start_saver, top_windows,
                  wait_child, wait_no_window, wait_window, windows_path)
from xinput import click_at, click_window, focus, place_pointer, pointer, wine_pointer, xdotool

__all__ = [
    "ARTEFACTS", "BUILD", "CLOSE_TIMEOUT", "DIALOG_CLASS", "DWORD_MINUS_ONE", "ENGLISH", "EXIT_MINUS_ONE", "HOST",
    "JAPANESE", "PREFIX", "PROBE", "ROOT", "SAVER_CLASS", "SCR", "SENDER", "SETTINGS_KEY", "SETTLE", "SessionTest",
    "ansi_code_page", "children", "click_at", "click_window", "cursor_visible_pixels", "end_process",
    "end_processes", "focus", "host_command", "main", "pixels_changed", "place_pointer", "pointer", "probe",
    "read_line", "reg",
    "reg_add", "reg_delete_key", "reg_query", "region_stats", "run_exact", "run_saver", "run_wine",
    "saver_running_flag", "saver_windows", "screenshot", "send_to_saver", "set_monitors",
    "set_saver_running_flag", "set_settings", "settings", "settled_screenshot", "spawn_exact", "spawned_exit",
    "start", "start_host", "start_saver", "start_session", "stop_all_sessions", "stop_session", "top_windows",
    "wait_child", "wait_exit", "wait_no_window", "wait_screen_still", "wait_until", "wait_window",
    "windows_path", "wine_pointer", "x_geometry", "x_stack", "x_top_window", "xdotool",
]

# A close of a managed window takes about two seconds here: with no window
# manager Wine waits that long for the window to be withdrawn.
CLOSE_TIMEOUT = 10.0
# How long a test waits before it believes that input was ignored. Input that
# closes the saver is handled within a few milliseconds of its arrival.
SETTLE = 1.5

_sessions = []


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

    try:
        xvfb, display = start_x_server(width, height, depth, monitors=bool(monitors))
    except RuntimeError:
        lock.close()
        raise

    session = types.SimpleNamespace(
        display=display, xvfb=xvfb, lock=lock, procs=[], width=width, height=height,
        desktop=desktop)
    session.env = base_env(session.display)
    _sessions.append(session)
    if monitors:
        set_monitors(session, monitors, wine_running=False)
        subprocess.run(["xsetroot", "-solid", "#ff00ff"], env=session.env, check=True, timeout=15)
    with open(PREFIX + ".xvfb.pid", "w") as f:
        f.write(str(xvfb.pid))
    # A server left from an earlier session knows another display and mode.
    end_prefix_processes(session.env)
    # The server and its system processes (the desktop window's owner among
    # them) stay up until the session ends. By default they wind down about
    # two seconds after the last program ends, and a saver that starts while
    # they do can lose the foreground, or be ended with them, at once.
    subprocess.run(["wineserver", "-p"], env=session.env, check=True, timeout=30, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    reg_add(session, r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "Y" if managed else "N")
    # Every session says whether it wants the desktop, so that one that was
    # cut short cannot leave it to the next.
    if desktop:
        reg_add(session, r"HKCU\Software\Wine\Explorer\Desktops", desktop, "REG_SZ", f"{width}x{height}")
        reg_add(session, r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", desktop)
    else:
        reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    return session



def stop_session(session):
    """Stops everything the session started. Returns the pids that outlived
    `wineserver -k` and had to be killed (a leak)."""
    if session not in _sessions:
        return []
    _sessions.remove(session)
    end_processes(session)
    if session.desktop:
        reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    leaked = end_prefix_processes(session.env)
    stop_x_server(session.xvfb)
    try:
        os.unlink(PREFIX + ".xvfb.pid")
    except FileNotFoundError:
        pass
    session.lock.close()
    return leaked


def stop_all_sessions():
    for session in list(_sessions):
        stop_session(session)



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
        """Starts a full-screen run once the one before is gone and waits for
        its window. A saver window still listed would make the new saver bring
        it to the front and end at once."""
        self.assertTrue(wait_no_window(self.session, SAVER_CLASS, "Screen Saver"), "an earlier saver stays")
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
        # Only a span without a close shows that input was ignored; no event marks it.
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
    env = base_env(os.environ.get("DISPLAY", ""))
    env.pop("DISPLAY")
    end_prefix_processes(env)
    session = types.SimpleNamespace(env=env)
    # Screenshots must show what child windows draw (dialog controls), which
    # Wine's server-side graphics leave out of the X windows here.
    reg(session, "delete", r"HKCU\Software\Wine\X11 Driver", "/v", "ClientSideGraphics", "/f", check=False)
    reg(session, "delete", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/f", check=False)
    reg_delete_key(session, r"HKCU\Software\Mirelvane")
    # What a slideshow test that was cut short may have left: its relay log
    # setting, and a file or folder under the saver's temporary file name.
    reg(session, "delete", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f", check=False)
    for leftover in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "Temp", "tmp1.tmp")):
        if os.path.isdir(leftover):
            shutil.rmtree(leftover)
        else:
            os.unlink(leftover)
    reg(session, "delete", r"HKCU\Software\Wine\Explorer", "/v", "Desktop", "/f", check=False)
    leaked = end_prefix_processes(env)
    lock.close()
    os.makedirs(ARTEFACTS, exist_ok=True)
    return 1 if leaked else 0


def cleanup():
    """Ends whatever a test that CTest had to kill left in the prefix."""
    lock = _lock_prefix()
    env = base_env("")
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
    leaked = end_prefix_processes(env)
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
