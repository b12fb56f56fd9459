#!/usr/bin/env python3
"""Password protection of a full-screen run on Windows 98, the system's
screen-saver-running flag, the password-change mode, and the absence of all of
it on Windows NT, with the real program.

Wine has no PASSWORD.CPL and its MPR.DLL has no password-change entry, so each
case runs a copy of the saver from a folder of its own with the stand-ins of
tests/standins beside it, where the system looks first (Wine is told to prefer
a native MPR.DLL). The stand-ins log what the saver asks of them; the flag is
read from outside with the probe. Wine reports Windows 98 to the copy while
its AppDefaults say so, and its default, Windows NT, otherwise."""

import json
import os
import shutil
import subprocess
import time

import harness
from harness import DIALOG_CLASS, EXIT_MINUS_ONE, SAVER_CLASS, SessionTest, focus, read_line, wait_exit, xdotool

STANDINS = os.environ.get("DUNMERE_E2E_STANDINS", os.path.join(harness.BUILD, "tests", "standins"))
SENDER = os.environ.get("DUNMERE_E2E_SENDER", os.path.join(harness.BUILD, "tests", "e2e", "send_to_saver.exe"))
RUNS = os.path.join(harness.ARTEFACTS, "password")

SAVER_COPY = "DunmereCopy.scr"
APP_DEFAULTS = r"HKCU\Software\Wine\AppDefaults" + "\\" + SAVER_COPY
DESKTOP = r"HKCU\Control Panel\Desktop"
PASSWORD = "letmein"
DIALOG_TITLE = "Password stand-in"
AUTOPLAY = "QueryCancelAutoPlay"

WM_NULL, WM_CLOSE, WM_ACTIVATEAPP = 0x0000, 0x0010, 0x001C
WM_KEYDOWN, WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_POWERBROADCAST = 0x0100, 0x0200, 0x0201, 0x0218

# The saver refuses a close request this soon after a verification, silently.
QUIET_MS = 200


class PasswordCase(SessionTest):
    """Each case gets a fresh folder with a copy of the saver and the
    stand-ins, quick slideshow settings (one second per picture, no reveal),
    the flag lowered, and leaves the prefix as it found it."""

    def setUp(self):
        s = self.session
        self.folder = os.path.join(RUNS, self.id().rsplit(".", 1)[-1])
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        shutil.copy(harness.SCR, os.path.join(self.folder, SAVER_COPY))
        for name in ("PASSWORD.CPL", "MPR.DLL"):
            shutil.copy(os.path.join(STANDINS, name), self.folder)
        self.configure()
        self.env = dict(s.env)
        self.env["WINEDLLOVERRIDES"] += ";mpr=n,b"
        self.restore_prefix()  # also after a run that was killed before its clean-up
        self.addCleanup(self.restore_prefix)
        harness.set_settings(s, t1=1, t2=0)
        harness.set_saver_running_flag(s, False)

    def restore_prefix(self):
        s = self.session
        harness.end_processes(s)
        harness.reg_delete_key(s, APP_DEFAULTS)
        harness.reg(s, "delete", DESKTOP, "/v", "ScreenSaveUsePassword", "/f", check=False)
        harness.reg_delete_key(s)
        harness.set_saver_running_flag(s, False)

    # ------------------------------------------------------------ set-up

    def windows98(self):
        harness.reg_add(self.session, APP_DEFAULTS, "Version", "REG_SZ", "win98")

    def use_password(self, kind="REG_DWORD", data=1):
        harness.reg_add(self.session, DESKTOP, "ScreenSaveUsePassword", kind, data)

    def configure(self, **settings):
        """Writes the stand-ins' settings; their presence turns their log on."""
        settings.setdefault("password", PASSWORD)
        with open(os.path.join(self.folder, "standins.ini"), "w") as f:
            f.write("[standin]\n" + "".join(f"{k}={v}\n" for k, v in settings.items()))

    # ------------------------------------------------------------ running

    def start_copy(self, *args):
        proc = subprocess.Popen(["wine", os.path.join(self.folder, SAVER_COPY), *args], env=self.env,
                                start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.session.procs.append(proc)
        return proc

    def start_fullscreen_copy(self):
        proc = self.start_copy("/s")
        window = harness.wait_window(self.session, SAVER_CLASS, "Screen Saver")
        self.assertIsNotNone(window, "no full-screen window")
        self.assertIsNone(proc.poll(), "the saver ended early")
        return proc, window

    def send(self, *args):
        code, out = harness.run_wine(self.session, SENDER, *args)
        self.assertEqual(code, 0, f"send_to_saver {' '.join(args)}")
        return [json.loads(line) for line in out.decode().splitlines() if line.strip()]

    def post(self, *messages):
        return self.send("post", *[str(m) if isinstance(m, int) else m for m in messages])

    def arm_close_requests(self, *delays):
        """Starts the sender that posts WM_CLOSE `delays` ms after the end of the
        next verification; returns it once it waits."""
        proc = harness.start(self.session, SENDER, "close-after-verify", *map(str, delays), stdout=subprocess.PIPE)
        self.assertEqual(read_line(proc, timeout=20), '{"ready":true}')
        return proc

    def flag(self):
        return harness.saver_running_flag(self.session)

    # ------------------------------------------------------------ the stand-ins' log

    def log(self, who=None, event=None):
        path = os.path.join(self.folder, "standins.log")
        if not os.path.exists(path):
            return []
        with open(path) as f:
            records = [json.loads(line) for line in f if line.strip()]
        return [r for r in records if (who is None or r["who"] == who) and (event is None or r["event"] == event)]

    def wait_log(self, event, count=1, who="password.cpl", timeout=10.0):
        self.assertTrue(harness.wait_until(lambda: len(self.log(who, event)) >= count, timeout),
                        f"no {event} record #{count} from {who}: {self.log()}")
        return self.log(who, event)[count - 1]

    # ------------------------------------------------------------ what a person sees

    def wait_dialog(self, saver):
        dialog = harness.wait_window(self.session, DIALOG_CLASS, DIALOG_TITLE)
        self.assertIsNotNone(dialog, "the password dialog does not appear")
        self.assertEqual(dialog["owner"], saver["hwnd"], "the dialog belongs to the saver window")
        return dialog

    def answer_dialog(self, dialog, *keys, text=None):
        focus(self.session, dialog)
        if text is not None:
            xdotool(self.session, "type", "--delay", "20", text)
        xdotool(self.session, "key", *keys)
        self.assertTrue(harness.wait_until(lambda: not self.dialog_open(dialog), 10), "the dialog stays open")

    def dialog_open(self, dialog=None):
        """Whether that dialog (or any password dialog) is on screen."""
        _, windows = harness.top_windows(self.session)
        return any(w["class"] == DIALOG_CLASS and w["title"] == DIALOG_TITLE and w["visible"] and
                   (dialog is None or w["hwnd"] == dialog["hwnd"]) for w in windows)

    def screen_changes(self, name, seconds):
        first = harness.screenshot(self.session, name + "-1")
        time.sleep(seconds)  # the span over which nothing may change is what is checked
        return harness.pixels_changed(first, harness.screenshot(self.session, name + "-2"))

    def refuse_and_check_quiet_spell(self, proc, saver, dialog, how, *keys, text=None):
        """Answers the open dialog with a refusal (`how`: wrong or cancel)
        while the sender waits to post close requests 150 and 250 ms after the
        end of that verification. The early one must be refused without a
        dialog and the late one must ask again. When the early request reaches
        the saver too late to test that (the machine was busy), the dialog it
        brought is answered the same way again, at most three times. Returns
        the dialog that is open at the end."""
        for _ in range(3):
            sender = self.arm_close_requests(150, 250)
            answered = len(self.log(event="answer"))
            self.answer_dialog(dialog, *keys, text=text)
            self.assertIsNotNone(read_line(sender, timeout=10), "the sender did not post")
            answer = self.wait_log("answer", count=answered + 1)
            self.assertEqual((answer["result"], answer["how"]), (0, how))
            ended = answer["tick"]
            after = lambda event: [r for r in self.log(event=event) if r["tick"] >= ended]  # noqa: E731
            self.assertTrue(harness.wait_until(lambda: len(after("close-request")) >= 2, 10),
                            "both close requests reached the saver")
            self.assertTrue(harness.wait_until(lambda: after("verify"), 10), "the saver asked again")
            dialog = self.wait_dialog(saver)
            self.assertStaysOpen(proc, f"a refusal ({how})", settle=0)
            closes = after("close-request")
            early, late = closes[0]["tick"] - ended, closes[1]["tick"] - ended
            self.assertGreaterEqual(early, 150)
            self.assertGreaterEqual(late, 250)
            if early >= QUIET_MS - 10:
                continue
            asked = after("verify")
            self.assertEqual(len(asked), 1, f"one verification after the answer: {asked}")
            self.assertGreaterEqual(asked[0]["tick"], closes[1]["tick"],
                                    f"asked only at the late request ({early} ms and {late} ms after the answer)")
            self.assertEqual(asked[0]["window"], saver["hwnd"])
            return dialog
        self.fail("no close request reached the saver within 190 ms of the answer in three tries")


class Windows98(PasswordCase):

    def test_protected_run_raises_the_flag_before_its_window_and_lowers_it_after_the_loop(self):
        s = self.session
        self.windows98()
        self.use_password("REG_DWORD", 1)
        self.configure(answer="accept", hold=1)
        proc = self.start_copy("/s")
        # The stand-in holds the saver inside the creation of its window.
        self.wait_log("holding")
        self.assertTrue(self.flag(), "the flag is up while the window is being created")
        _, windows = harness.top_windows(s)
        self.assertEqual([w for w in windows if w["class"] == SAVER_CLASS and w["visible"]], [],
                         "no saver window shows yet")
        open(os.path.join(self.folder, "release"), "w").close()
        window = harness.wait_window(s, SAVER_CLASS, "Screen Saver")
        self.assertIsNotNone(window)
        self.assertTrue(self.flag(), "the flag is up while the saver runs")
        load, created = self.log(event="load")[0], self.log(event="create-window")[0]
        self.assertFalse(load["flag"], "the provider is loaded before the flag is raised")
        self.assertFalse(load["saverWindow"])
        self.assertTrue(created["flag"], "the flag is up when the window is created")
        self.assertEqual(created["window"], window["hwnd"])
        self.assertEqual(load["pid"], created["pid"])

        # AutoPlay asks a protected saver to close, and is told to cancel.
        reply = self.send("send-registered", AUTOPLAY)[0]
        self.assertTrue(reply["answered"])
        self.assertNotEqual(reply["message"], 0)
        self.assertEqual(reply["result"], 1, "a protected saver cancels AutoPlay")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "the accepted password closes with 0")
        verify = self.log(event="verify")
        self.assertEqual(len(verify), 1)
        self.assertEqual(verify[0]["window"], window["hwnd"])
        self.assertFalse(self.flag(), "the flag is down after the run")
        last = self.log()[-1]
        self.assertEqual(last["event"], "free", "the provider is freed by the saver, not at process exit")
        self.assertFalse(last["saverWindow"], "the provider is freed after the window is gone")
        self.assertTrue(last["flag"], "and the flag is lowered after that")

    def test_wrong_password_or_cancel_keep_the_saver_locked_until_the_right_password(self):
        s = self.session
        self.windows98()
        self.use_password("REG_DWORD", 1)
        centre = (s.width // 2, s.height // 2)
        self.assertEqual(harness.place_pointer(s, *centre), (centre, centre), "the pointer for X and for Wine")
        proc, saver = self.start_fullscreen_copy()
        self.assertGreater(self.screen_changes("password-slideshow-running", 2.5), 0,
                           "the slideshow changes the picture while it runs")

        focus(s, saver)
        xdotool(s, "key", "space")
        dialog = self.wait_dialog(saver)
        self.assertEqual(self.log(event="verify")[0]["window"], saver["hwnd"])
        self.assertEqual(self.log(event="dialog")[0]["owner"], saver["hwnd"])

        # While the dialog is open nothing closes the saver: real input, and
        # input, a loss of activation, a power event and a close request
        # posted to the saver window by another program.
        for x, y in ((20, 20), (s.width - 20, s.height - 20)):
            xdotool(s, "mousemove", x, y)
        xdotool(s, "click", 1)
        left, top, right, bottom = dialog["rect"]
        xdotool(s, "mousemove", (left + right) // 2, top + 8)  # on the dialog's caption
        self.assertGreater(harness.cursor_visible_pixels(s), 0, "the dialog shows the pointer")
        self.post(WM_KEYDOWN, WM_LBUTTONDOWN, WM_MOUSEMOVE, f"{WM_ACTIVATEAPP}:0", WM_POWERBROADCAST, WM_CLOSE)
        focus(s, dialog)
        xdotool(s, "type", "x")
        self.wait_log("close-request", count=2)  # the key's request, then the posted one
        self.assertStaysOpen(proc, "input while the dialog is open")
        self.assertTrue(self.dialog_open())
        self.assertEqual(len(self.log(event="verify")), 1, "no further verification while one is open")
        self.assertEqual(self.log(event="answer"), [])

        # A wrong password: locked, quiet for 200 ms, then asking again.
        dialog = self.refuse_and_check_quiet_spell(proc, saver, dialog, "wrong", "Return", text="wrong")
        # Cancel: the same.
        dialog = self.refuse_and_check_quiet_spell(proc, saver, dialog, "cancel", "Escape")

        # After a refusal the saver stays, its slideshow stopped, the cursor hidden.
        self.assertGreater(harness.cursor_visible_pixels(s), 0, "the dialog under the pointer shows it")
        self.answer_dialog(dialog, "Return", text="wrong again")
        self.assertStaysOpen(proc, "a wrong password")
        self.assertFalse(self.dialog_open())
        self.assertTrue(harness.wait_until(lambda: harness.cursor_visible_pixels(s) == 0, 5),
                        "the cursor is hidden again over the saver")
        harness.wait_screen_still(s, "password-repainted")  # what the dialog covered is repainted
        self.assertEqual(self.screen_changes("password-slideshow-stopped", 2.5), 0, "the slideshow has stopped")
        self.assertEqual(harness.saver_windows(s)[0]["hwnd"], saver["hwnd"])
        self.assertTrue(self.flag())

        # The right password closes.
        focus(s, saver)
        xdotool(s, "key", "space")
        dialog = self.wait_dialog(saver)
        focus(s, dialog)
        xdotool(s, "type", "--delay", "20", PASSWORD)
        xdotool(s, "key", "Return")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "the right password closes with 0")
        answers = [(a["how"], a["result"]) for a in self.log(event="answer")]
        self.assertEqual(answers[-1], ("right", 1))
        self.assertEqual(set(answers[:-1]), {("wrong", 0), ("cancel", 0)})
        self.assertFalse(self.flag(), "the flag is down after the run")

    def test_value_zero_or_missing_leaves_the_run_unprotected(self):
        s = self.session
        self.windows98()
        for what, value in (("value 0", ("REG_DWORD", 0)), ("no value", None),
                            ("two zero bytes", ("REG_BINARY", "0000"))):
            with self.subTest(case=what):
                harness.reg(s, "delete", DESKTOP, "/v", "ScreenSaveUsePassword", "/f", check=False)
                if value:
                    self.use_password(*value)
                harness.set_saver_running_flag(s, False)
                proc, saver = self.start_fullscreen_copy()
                self.assertFalse(self.flag(), "no flag is raised")
                harness.set_saver_running_flag(s, True)
                if what == "no value":
                    reply = self.send("send-registered", AUTOPLAY)[0]
                    self.assertEqual(reply["result"], 0, "an unprotected saver lets AutoPlay go on")
                else:
                    self.post(WM_CLOSE)
                self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "the close goes ahead at once")
                self.assertTrue(self.flag(), "the flag is left alone")
                self.assertEqual(self.log(), [], "no provider is loaded")

    def test_a_short_value_is_the_number_its_bytes_make(self):
        self.windows98()
        self.use_password("REG_BINARY", "0001")  # 0x0100
        self.configure(answer="accept")
        proc, saver = self.start_fullscreen_copy()
        self.assertTrue(self.flag())
        self.post(WM_CLOSE)
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0)
        self.assertEqual([v["window"] for v in self.log(event="verify")], [saver["hwnd"]], "the close asked")

    def test_a_provider_without_its_function_is_freed_and_protects_nothing(self):
        s = self.session
        shutil.copy(os.path.join(STANDINS, "password-nofunc.cpl"), os.path.join(self.folder, "PASSWORD.CPL"))
        self.windows98()
        self.use_password("REG_DWORD", 1)
        proc, saver = self.start_fullscreen_copy()
        self.assertEqual([(r["event"], r["saverWindow"]) for r in self.log()], [("load", False), ("free", False)],
                         "loaded and freed again before the window was made")
        self.assertFalse(self.flag(), "no flag is raised")
        harness.set_saver_running_flag(s, True)
        focus(s, saver)
        xdotool(s, "key", "space")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "a key closes at once")
        self.assertTrue(self.flag(), "the flag is left alone")
        self.assertEqual(len(self.log()), 2)

    def test_a_preview_is_never_protected(self):
        s = self.session
        self.windows98()
        self.use_password("REG_DWORD", 1)
        host, info = harness.start_host(s)
        proc = self.start_copy("/p", str(info["hwnd"]))
        child = harness.wait_child(s, info["hwnd"], SAVER_CLASS, "Preview")
        self.assertIsNotNone(child)
        self.assertFalse(self.flag(), "no flag is raised")
        reply = self.send("send-registered", AUTOPLAY, str(child["hwnd"]))[0]
        self.assertEqual(reply["result"], 0, "no provider, so AutoPlay goes on")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "AutoPlay closes a preview at once")
        self.assertEqual(self.log(), [], "no provider is loaded")
        harness.host_command(host, "destroy")

    def test_password_change_calls_the_changer_with_scrsave_and_the_window(self):
        s = self.session
        self.windows98()
        named, named_info = harness.start_host(s, 500, 100, 200, 150)
        front, front_info = harness.start_host(s, 100, 100, 320, 240)
        cases = [(("/a", str(named_info["hwnd"])), named_info["hwnd"]),
                 (("-A", str(named_info["hwnd"])), named_info["hwnd"]),
                 (("/a",), front_info["hwnd"]),
                 (("/a", "987654"), front_info["hwnd"])]  # not a window
        for args, parent in cases:
            with self.subTest(arguments=" ".join(args)):
                harness.host_command(front, "foreground")
                self.assertTrue(harness.wait_until(lambda: harness.top_windows(s)[0] == front_info["hwnd"], 10))
                calls = len(self.log("mpr.dll", "change"))
                self.assertEqual(wait_exit(self.start_copy(*args), 20), 0)
                changes = self.log("mpr.dll", "change")
                self.assertEqual(len(changes), calls + 1, "one call of the changer")
                self.assertEqual((changes[-1]["provider"], changes[-1]["parent"], changes[-1]["flags"],
                                  changes[-1]["info"]), ("SCRSAVE", parent, 0, 0))
        self.assertEqual(self.log("mpr.dll", "process-exit"), [], "the changer is freed after the call")
        self.assertEqual(self.log("password.cpl"), [])
        harness.host_command(front, "destroy")
        harness.host_command(named, "destroy")


class WindowsNT(PasswordCase):

    def test_nothing_of_the_password_area_runs(self):
        s = self.session
        self.use_password("REG_DWORD", 1)
        proc, saver = self.start_fullscreen_copy()
        self.assertFalse(self.flag(), "no flag is raised")
        reply = self.send("send-registered", AUTOPLAY)[0]
        self.assertNotEqual(reply["message"], 0)
        self.assertEqual(reply["result"], 0, "the AutoPlay message means nothing here")
        self.post(WM_NULL)  # nor does message 0
        self.assertStaysOpen(proc, "the AutoPlay message and message 0")
        harness.set_saver_running_flag(s, True)
        self.post(WM_CLOSE)
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), 0, "WM_CLOSE closes at once")
        self.assertTrue(self.flag(), "the flag is left alone")

        host, info = harness.start_host(s)
        self.assertEqual(wait_exit(self.start_copy("/a", str(info["hwnd"])), 20), EXIT_MINUS_ONE)
        self.assertEqual(wait_exit(self.start_copy("/a"), 20), EXIT_MINUS_ONE)
        self.assertEqual(self.log(), [], "neither the provider nor the changer is loaded")
        harness.host_command(host, "destroy")


if __name__ == "__main__":
    harness.main()
