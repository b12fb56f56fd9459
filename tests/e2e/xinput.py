"""Real input on a session's display, sent through the X server (xdotool) as
a person's keyboard and mouse send it."""

import subprocess

from wine import probe


def xdotool(session, *args, timeout=15):
    subprocess.run(["xdotool", *[str(a) for a in args]], env=session.env, check=True, timeout=timeout,
                   stdout=subprocess.DEVNULL)


def pointer(session):
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], env=session.env, check=True, timeout=15,
                         capture_output=True).stdout.decode()
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


def wine_pointer(session):
    """Where a Windows program started now finds the pointer (GetCursorPos)."""
    code, records = probe(session, "cursor-pos")
    if code != 0 or not records:
        raise RuntimeError("the probe could not read the cursor position")
    return records[0]["x"], records[0]["y"]


def place_pointer(session, x, y):
    """Puts the pointer at (x, y) for X and for Wine alike, while no Wine
    window is there to see it move, and returns where each of them now says it
    is. Wine's server learns of a move only through its own windows; for about
    100 ms after the last move it learnt of, GetCursorPos answers with that
    one instead of asking X, so a saver started soon after would take the old
    place for its start. SetCursorPos makes the server hold the new place."""
    xdotool(session, "mousemove", x, y)
    code, _ = probe(session, "set-cursor-pos", str(x), str(y))
    if code != 0:
        raise RuntimeError("the probe could not set the cursor position")
    return pointer(session), wine_pointer(session)


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

