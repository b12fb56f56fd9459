"""Waiting for something to happen: a condition to hold, a process to end, a
line of output. The timeouts are generous and fire only when the awaited event
never comes; how long an event takes is never read from them."""

import os
import select
import subprocess
import time


def wait_until(predicate, timeout, interval=0.1):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() > deadline:
            return False
        time.sleep(interval)



def wait_exit(proc, timeout):
    """The exit code, or None when the process still runs after `timeout`."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None



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

