"""The saver's own calls into the system, as Wine's relay log records them:
which picture resource it loads, how it makes and removes the temporary file,
which bitmap memory it allocates and frees, which palettes and other GDI
objects it creates and deletes, and how it draws. Only the calls chosen for a
run are logged, and only those made from the saver's own code are read back.
The program itself is the product as built: the log is Wine's."""

import os
import re
import struct
import subprocess

import harness
import pictures

DEBUG_KEY = r"HKCU\Software\Wine\Debug"

# Every GDI call that makes an object the caller must delete, and the two
# that delete them: the saver's GDI balance is what these show.
GDI_CREATORS = [
    "gdi32.CreatePalette", "gdi32.CreateHalftonePalette", "gdi32.CreateCompatibleDC", "gdi32.CreateDCA",
    "gdi32.CreateICA", "gdi32.CreateBitmap", "gdi32.CreateBitmapIndirect", "gdi32.CreateCompatibleBitmap",
    "gdi32.CreateDIBitmap", "gdi32.CreateDIBSection", "gdi32.CreateSolidBrush", "gdi32.CreateHatchBrush",
    "gdi32.CreatePatternBrush", "gdi32.CreateDIBPatternBrushPt", "gdi32.CreateBrushIndirect", "gdi32.CreatePen",
    "gdi32.CreatePenIndirect", "gdi32.ExtCreatePen", "gdi32.CreateFontA", "gdi32.CreateFontIndirectA",
    "gdi32.CreateRectRgn", "gdi32.CreateRectRgnIndirect", "gdi32.CreateEllipticRgn", "gdi32.CreatePolygonRgn",
    "gdi32.CreateRoundRectRgn", "gdi32.ExtCreateRegion",
]
GDI_DELETERS = ["gdi32.DeleteObject", "gdi32.DeleteDC"]
PALETTE_CALLS = ["gdi32.SelectPalette", "gdi32.RealizePalette"]
FILE_CALLS = ["kernel32.FindResourceA", "kernel32.CreateFileA", "kernel32.DeleteFileA"]
MEMORY_CALLS = ["kernel32.GlobalAlloc", "kernel32.GlobalFree"]
DRAW_CALLS = ["gdi32.StretchDIBits"]

_CALL = re.compile(r"^([0-9a-f]+):Call ([\w]+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
_RET = re.compile(r"^([0-9a-f]+):Ret  ([\w]+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")


class Call:
    def __init__(self, name, args):
        self.name, self.args, self.retval = name, args, None

    def arg(self, index):
        """Argument `index` as an unsigned number (a string argument's address)."""
        return int(self.args[index].split()[0], 16)

    def signed_arg(self, index):
        value = self.arg(index)
        return value - (1 << 32) if value >= 1 << 31 else value

    def __repr__(self):
        return f"{self.name}({', '.join(self.args)}) = {self.retval}"


def image_range(path=None):
    """[start, end) of the program's image in memory: its preferred base and
    size (the saver has no relocations to move it)."""
    with open(path or harness.SCR, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    image_base = struct.unpack_from("<I", data, pe + 24 + 28)[0]
    image_size = struct.unpack_from("<I", data, pe + 24 + 56)[0]
    return image_base, image_base + image_size


def start_traced_saver(session, functions, *args):
    """Starts the saver with the relay log of `functions` ("module.Name");
    returns the process and the log's path. The settings key is the prefix's,
    read by each process as it starts, so only this process logs."""
    harness.reg_add(session, DEBUG_KEY, "RelayInclude", "REG_SZ", ";".join(functions))
    work = pictures.work_dir()
    log_path = os.path.join(work, f"relay-{len(os.listdir(work))}.log")
    env = dict(session.env, WINEDEBUG="-all,+relay")
    with open(log_path, "wb") as log:
        proc = subprocess.Popen(["wine", harness.SCR, *args], env=env, start_new_session=True,
                                stdout=subprocess.DEVNULL, stderr=log)
    session.procs.append(proc)
    return proc, log_path


def stop_tracing(session):
    harness.reg(session, "delete", DEBUG_KEY, "/v", "RelayInclude", "/f", check=False)


def saver_calls(log_path):
    """The calls that the saver's own code made, in order, with their results
    (None for a call that had not returned when the log ended)."""
    start, end = image_range()
    calls, open_calls = [], {}
    with open(log_path, "rb") as f:
        for raw in f:
            line = raw.decode("latin-1").rstrip("\r\n")
            match = _CALL.match(line)
            if match:
                tid, module, name, args, ret = match.groups()
                if start <= int(ret, 16) < end:
                    call = Call(f"{module.lower()}.{name}", _split_args(args))
                    calls.append(call)
                    open_calls.setdefault((tid, ret), []).append(call)
                continue
            match = _RET.match(line)
            if match:
                tid, module, name, retval, ret = match.groups()
                pending = open_calls.get((tid, ret))
                if pending:
                    pending.pop().retval = int(retval, 16)
    return calls


def _split_args(text):
    """Splits at the commas between arguments; a string argument is printed as
    its address and its quoted text, which may hold commas of its own."""
    args, current, quoted, escaped = [], "", False, False
    for ch in text:
        if quoted:
            current += ch
            if escaped:
                escaped = False
            elif ch == "\\":
                escaped = True
            elif ch == '"':
                quoted = False
        elif ch == '"':
            quoted = True
            current += ch
        elif ch == ",":
            args.append(current)
            current = ""
        else:
            current += ch
    args.append(current)
    return args


def picture_numbers(calls):
    """The pictures in the order the saver looked them up."""
    return [call.arg(1) - pictures.PICTURE_RESOURCE_BASE for call in calls
            if call.name == "kernel32.FindResourceA"]


class GdiBalance:
    """GDI objects that the saver's own calls created and have not deleted."""

    def __init__(self):
        self.live, self.created, self.deleted, self.failed_deletes = set(), 0, 0, []

    def feed(self, call):
        if call.name in GDI_CREATORS and call.retval:
            self.live.add(call.retval)
            self.created += 1
        elif call.name in GDI_DELETERS and call.arg(0) in self.live:
            if call.retval:
                self.live.discard(call.arg(0))
                self.deleted += 1
            else:
                self.failed_deletes.append(call)


class MemoryBalance:
    """Global memory blocks of at least `min_size` bytes (the pictures) that
    the saver allocated, and every release of them."""

    def __init__(self, min_size):
        self.min_size, self.live, self.allocated, self.freed, self.bad_frees = min_size, set(), 0, 0, []

    def feed(self, call):
        if call.name == "kernel32.GlobalAlloc" and call.arg(1) >= self.min_size and call.retval:
            self.live.add(call.retval)
            self.allocated += 1
        elif call.name == "kernel32.GlobalFree":
            handle = call.arg(0)
            if handle in self.live and call.retval == 0:
                self.live.discard(handle)
                self.freed += 1
            elif call.retval != 0:
                # GlobalFree gives the handle back when it fails: a block
                # freed twice, or one that was never allocated.
                self.bad_frees.append(call)
