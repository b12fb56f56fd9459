"""The registry of the e2e prefix, read and written with `wine reg` on the
session's display (the saver's settings and Wine's own switches)."""

import subprocess
import tempfile

SETTINGS_KEY = r"HKCU\Software\Mirelvane\Dunmere"


def reg(session, *args, check=True):
    """Runs `wine reg`; its output goes through a file, since a system process
    that it starts keeps a pipe open for as long as the session's server runs."""
    with tempfile.TemporaryFile() as out:
        proc = subprocess.run(["wine", "reg", *args], env=session.env, stdout=out, stderr=subprocess.DEVNULL,
                              timeout=60, start_new_session=True)
        out.seek(0)
        proc.stdout = out.read()
    if check and proc.returncode != 0:
        raise RuntimeError(f"wine reg {' '.join(args)} failed: {proc.stdout.decode('cp932', 'replace')}")
    return proc


def reg_add(session, key, name, kind, data):
    reg(session, "add", key, "/v", name, "/t", kind, "/d", str(data), "/f")


def reg_delete_key(session, key=SETTINGS_KEY):
    reg(session, "delete", key, "/f", check=False)


def reg_query(session, name, key=SETTINGS_KEY):
    """(type, value) of a registry value, or None when it is missing.
    REG_DWORD values come back as signed 32-bit numbers, REG_BINARY as bytes."""
    proc = reg(session, "query", key, "/v", name, check=False)
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

