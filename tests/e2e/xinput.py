"""Real input on a session's display, sent through the X server (xdotool) as
a person's keyboard and mouse send it."""

import subprocess


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

