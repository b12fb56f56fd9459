#!/usr/bin/env python3
"""Fails when Dunmere.scr imports a DLL or a function that the list does not
allow, or when its header does not ask for Windows 4.0 at the image base
0x400000. Usage: product_imports.py FILE LIST"""
import struct
import sys

DLLS = {"KERNEL32", "USER32", "GDI32", "ADVAPI32", "COMCTL32"}


def imports_and_header(path):
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    opt = pe + 24
    wide = struct.unpack_from("<H", data, opt)[0] == 0x20B  # PE32+
    base = struct.unpack_from("<Q" if wide else "<I", data, opt + (24 if wide else 28))[0]
    versions = struct.unpack_from("<HH4xHH", data, opt + 40)  # OS major, minor; subsystem major, minor
    import_rva = struct.unpack_from("<I", data, opt + (112 if wide else 96) + 8)[0]
    table = [struct.unpack_from("<8xII4xI", data, opt + optional_size + 40 * i) for i in range(sections)]

    def at(rva):
        for size, address, raw in table:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError("RVA %#x lies in no section" % rva)

    def text(rva):
        start = at(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    found, entry = [], at(import_rva)
    while True:
        lookup, _, _, name, thunks = struct.unpack_from("<5I", data, entry)
        if name == 0:
            break
        dll, slot, step = text(name).upper().removesuffix(".DLL"), at(lookup or thunks), 8 if wide else 4
        while (thunk := struct.unpack_from("<Q" if wide else "<I", data, slot)[0]) != 0:
            found.append((dll, "#%d" % (thunk & 0xFFFF) if thunk >> (63 if wide else 31) else text(thunk + 2)))
            slot += step
        entry += 20
    return found, base, versions


def main(path, list_path):
    allowed = {tuple(line.split()[:2]) for line in open(list_path) if line.strip() and not line.startswith("#")}
    found, base, versions = imports_and_header(path)
    faults = ["%s imports %s!%s from a DLL the saver may not use" % (path, dll, fn) for dll, fn in found
              if dll not in DLLS]
    faults += ["%s imports %s!%s, which %s does not allow" % (path, dll, fn, list_path) for dll, fn in found
               if dll in DLLS and (dll, fn) not in allowed]
    if versions != (4, 0, 4, 0):
        faults.append("OS and subsystem versions are %d.%d and %d.%d, not 4.0" % versions)
    if base != 0x400000:
        faults.append("image base is %#x, not 0x400000" % base)
    print("\n".join(faults) or "%d imports, all allowed" % len(found))
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
