"""Wine in the shared e2e prefix: the environment its programs run in, starting
and ending them, and the helper programs that look at the saver from inside
(the window probe, the message sender, the preview host). Every process is
started in its own process group so that ending it ends what it started."""

import json
import os
import signal
import subprocess
import tempfile

from paths import HOST, PREFIX, PROBE, SCR, SENDER
from waits import read_line, wait_exit, wait_until

SAVER_CLASS = "WindowsScreenSaverClass"
DIALOG_CLASS = "#32770"
EXIT_MINUS_ONE = 255  # how Wine reports the exit code -1 to its Unix caller
DWORD_MINUS_ONE = 0xFFFFFFFF  # the same code as a Windows parent sees it
# Wine takes each program's ANSI code page from its locale: 932 as the users', or 1252.
JAPANESE, ENGLISH = "ja_JP.UTF-8", "en_US.UTF-8"


def base_env(display):
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


def prefix_processes():
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


def kill_group(proc):
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


def wineserver_kill(env):
    subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=30, check=False)


def end_prefix_processes(env, timeout=15.0):
    """Ends the prefix's Wine server and waits until nothing of it is left.
    Returns what had to be killed by force (a leak)."""
    wineserver_kill(env)
    if wait_until(lambda: not prefix_processes(), timeout):
        return []
    leaked = prefix_processes()
    for pid in leaked:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    return leaked


def end_process(proc):
    """Ends one process (and what it started) if it still runs: a failed case
    must not leave a saver that would stop the next one from starting."""
    kill_group(proc)


def end_processes(session):
    """Ends every process that the session started and that still runs."""
    for proc in session.procs:
        kill_group(proc)
    session.procs = []


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


def run_wine(session, program, *args, timeout=30, locale=None):
    """Runs a Windows program to its end; returns its exit code and output.
    The output goes through a file: a system process that the program started
    keeps a pipe open for as long as the session's server runs."""
    with tempfile.TemporaryFile() as out:
        proc = start(session, program, *args, stdout=out, locale=locale)
        if wait_exit(proc, timeout) is None:
            kill_group(proc)
            raise subprocess.TimeoutExpired(proc.args, timeout)
        out.seek(0)
        return proc.returncode, out.read()


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


def wait_no_window(session, window_class, title="*", timeout=15.0):
    """Whether every top-level window of that class and title, visible or
    not, is gone within `timeout`."""
    code, _ = probe(session, "gone", window_class, title, str(int(timeout * 1000)), timeout=timeout + 20)
    return code == 0


def children(session, hwnd):
    return probe(session, "children", str(hwnd))[1]


def wait_child(session, hwnd, window_class, title, timeout=15.0):
    """The first visible child of that class and title, or None. A window is
    made visible only once its creation has finished."""
    found = []
    def look():
        found[:] = [child for child in children(session, hwnd) if child["class"] == window_class and
                    child["title"] == title and child["visible"]]
        return bool(found)
    return found[0] if wait_until(look, timeout) else None


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


# The preview host stands in for the display settings' window.

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

