#!/usr/bin/env python3
"""The release: tools/package on this build's saver, the silent install and
uninstall in a fresh 64-bit prefix with the Japanese locale, the installed
saver's run, and signatures made with a throwaway key."""

import filecmp
import os
import shutil
import subprocess
import tempfile
import zipfile

import harness
from harness import SessionTest, reg_query, run_wine

OUT = os.path.join(harness.BUILD, "package-test")
with open(os.path.join(harness.BUILD, "generated", "version.txt")) as f:
    VERSION = f.read().strip()
NAME = f"Dunmere-{VERSION}"
ENTRY = r"HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\Dunmere"
DESKTOP = r"HKCU\Control Panel\Desktop"
PROGRAM_DIR = os.path.join(harness.PREFIX, "drive_c", "Program Files (x86)", "Dunmere")
INSTALLED = os.path.join(harness.PREFIX, "drive_c", "windows", "Dunmere.scr")
FILES = ["Dunmere.scr", "README-ja.txt", "README-en.txt", "CREDITS.txt"]


def package(out, env=None):
    subprocess.run([os.path.join(harness.ROOT, "tools", "package"), "--from-build", harness.BUILD, "--out", out],
                   check=True, timeout=300, env=env, stdout=subprocess.DEVNULL)
    return os.path.join(out, NAME + "-setup.exe"), os.path.join(out, NAME + ".zip")


def verify(path, cert):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", path], capture_output=True).returncode


class Install(SessionTest):
    @classmethod
    def setUpClass(cls):
        # A fresh prefix each run: what an earlier run installed must not count.
        shutil.rmtree(harness.PREFIX, ignore_errors=True)
        subprocess.run([os.path.join(harness.ROOT, "tools", "wine-prefix"), harness.PREFIX], check=True,
                       timeout=300, stdout=subprocess.DEVNULL, env=dict(os.environ, WINEARCH="win64"))
        super().setUpClass()

    def removed(self, path):
        # Wine's server finishes a deletion a moment after the uninstaller has ended.
        return harness.wait_until(lambda: not os.path.exists(path), 10)

    def key_exists(self, key):
        return harness.reg(self.session, "query", key, check=False).returncode == 0

    def test_install_run_and_uninstall(self):
        s = self.session
        setup, zipped = package(os.path.join(OUT, "a"))
        again = package(os.path.join(OUT, "b"))
        for first, second in zip((setup, zipped), again):
            self.assertTrue(filecmp.cmp(first, second, shallow=False), f"{first} differs between two runs")
        with zipfile.ZipFile(zipped) as z:
            self.assertEqual(z.namelist(), [f"{NAME}/{f}" for f in FILES])
            readme = z.read(f"{NAME}/README-ja.txt")
        self.assertIn(f"Dunmere {VERSION} スクリーン セーバー\r\n".encode("cp932"), readme)
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"))

        self.assertTrue(os.path.isdir(os.path.join(harness.PREFIX, "drive_c", "windows", "syswow64")))
        code, _ = run_wine(s, setup, "/S", timeout=120)
        self.assertEqual(code, 0)
        self.assertTrue(filecmp.cmp(INSTALLED, harness.SCR, shallow=False))
        self.assertEqual(sorted(os.listdir(PROGRAM_DIR)), sorted(FILES[1:] + ["Uninstall.exe"]))
        entry = {name: reg_query(s, name, ENTRY) for name in (
            "DisplayName", "DisplayVersion", "Publisher", "DisplayIcon", "UninstallString", "QuietUninstallString",
"NoModify", "NoRepair")}
        uninstaller = r"C:\Program Files (x86)\Dunmere\Uninstall.exe"
        self.assertEqual(entry, {
            "DisplayName": ("REG_SZ", "Dunmere"), "DisplayVersion": ("REG_SZ", VERSION),
            "Publisher": ("REG_SZ", "Mirelvane"), "DisplayIcon": ("REG_SZ", r"C:\windows\Dunmere.scr,0"),
            "UninstallString": ("REG_SZ", f'"{uninstaller}"'),
            "QuietUninstallString": ("REG_SZ", f'"{uninstaller}" /S'),
            "NoModify": ("REG_DWORD", 1), "NoRepair": ("REG_DWORD", 1)})
        kind, size = reg_query(s, "EstimatedSize", ENTRY)  # KB: the saver and the program folder
        self.assertTrue(kind == "REG_DWORD" and 0 < size - os.path.getsize(INSTALLED) // 1024 < 200, size)
        saver = reg_query(s, "SCRNSAVE.EXE", DESKTOP)
        self.assertEqual(saver[1].lower(), r"c:\windows\dunmere.scr")
        self.assertEqual(reg_query(s, "ScreenSaveActive", DESKTOP), ("REG_SZ", "1"))

        # As the system starts it: the path from SCRNSAVE.EXE with /s.
        proc = harness.start(s, saver[1], "/s")
        with self.ending(proc):
            self.close_with_key(proc, self.wait_fullscreen(proc))
        self.assertTrue(self.key_exists(harness.SETTINGS_KEY), "the run wrote no settings")

        code, _ = run_wine(s, os.path.join(PROGRAM_DIR, "Uninstall.exe"), "/S",
                           r"_?=C:\Program Files (x86)\Dunmere", timeout=120)
        self.assertEqual(code, 0)
        self.assertTrue(self.removed(INSTALLED))
        # Run in place, the uninstaller cannot remove itself on Windows (Wine lets it).
        self.assertIn(os.listdir(PROGRAM_DIR) if os.path.isdir(PROGRAM_DIR) else [], ([], ["Uninstall.exe"]))
        for key in (ENTRY, harness.SETTINGS_KEY, r"HKCU\Software\Mirelvane"):
            self.assertFalse(self.key_exists(key), key)
        self.assertIsNone(reg_query(s, "SCRNSAVE.EXE", DESKTOP))

    def test_signed_release_keeps_another_saver(self):
        s = self.session
        with tempfile.TemporaryDirectory() as keys:
            cert, key, p12, password = (os.path.join(keys, n) for n in ("c.pem", "k.pem", "k.p12", "pw"))
            with open(password, "w") as f:
                f.write("throwaway\n")
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "2", "-subj", "/CN=Dunmere test"], check=True, capture_output=True)
            subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12, "-passout",
                            "file:" + password], check=True, capture_output=True)
            env = dict(os.environ, DUNMERE_SIGN_PKCS12=p12, DUNMERE_SIGN_PASSWORD_FILE=password)
            setup, zipped = package(os.path.join(OUT, "signed"), env)
            with zipfile.ZipFile(zipped) as z:
                z.extract(f"{NAME}/Dunmere.scr", keys)
            self.assertEqual(verify(harness.SCR, cert), 1, "the build's own saver is not signed")
            self.assertEqual(verify(setup, cert), 0)
            self.assertEqual(verify(os.path.join(keys, NAME, "Dunmere.scr"), cert), 0)

            harness.reg_add(s, DESKTOP, "SCRNSAVE.EXE", "REG_SZ", r"C:\windows\OTHER.SCR")
            self.assertEqual(run_wine(s, setup, "/S", "/NOACTIVATE", timeout=120)[0], 0)
            self.assertEqual(verify(os.path.join(PROGRAM_DIR, "Uninstall.exe"), cert), 0)
            self.assertEqual(verify(INSTALLED, cert), 0)
        self.assertEqual(reg_query(s, "SCRNSAVE.EXE", DESKTOP)[1], r"C:\windows\OTHER.SCR")
        run_wine(s, os.path.join(PROGRAM_DIR, "Uninstall.exe"), "/S", r"_?=C:\Program Files (x86)\Dunmere",
                 timeout=120)
        self.assertTrue(self.removed(INSTALLED))
        self.assertEqual(reg_query(s, "SCRNSAVE.EXE", DESKTOP)[1], r"C:\windows\OTHER.SCR")


if __name__ == "__main__":
    harness.main()
