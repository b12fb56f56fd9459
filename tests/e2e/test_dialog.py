#!/usr/bin/env python3
"""The settings dialog as a person uses it: what it shows, what OK and Cancel
store in the registry, and the ranges of its arrows. It runs inside a Wine
virtual desktop, so that Wine draws the caption and the screenshots show the
dialog as a Japanese user sees it, and as a user of an English system does."""

import os

import harness
import pictures
from harness import (DIALOG_CLASS, SessionTest, children, click_window, focus, reg_delete_key, set_settings,
                     settings, start_saver, wait_exit, wait_window, xdotool)

SECONDS, REVEAL = 1000, 1011
SECONDS_SPIN, REVEAL_SPIN = 1012, 1013
CATALOGUE, RANDOM, ORIGINAL, FIT = 1009, 1010, 1016, 1017
FOLDER_SHOW, FOLDER_PATH, FOLDER_BROWSE = 1018, 1019, 1020
WS_DISABLED = 0x08000000
OK, CANCEL = 1, 2

# Every text of template 2003, by control id (-1 for the group boxes and label).
TEXTS = {
    SECONDS_SPIN: "Spin1", REVEAL_SPIN: "Spin2",
    CATALOGUE: "デフォルト", RANDOM: "ランダム", ORIGINAL: "オリジナル", FIT: "スクリーン",
    FOLDER_SHOW: "フォルダの画像を表示する", FOLDER_BROWSE: "参照...",
    OK: "OK", CANCEL: "ｷｬﾝｾﾙ",
}
STATIC_TEXTS = ["画像切り替え時間", "秒", "画像表示スピード", "画像表示順選択", "画像サイズ選択", "画像フォルダ"]


class SettingsDialog(SessionTest):
    screen = (800, 600)
    desktop = "dunmere-e2e"

    def setUp(self):
        reg_delete_key(self.session)
        self.layouts = {}

    def open_dialog(self, *args, locale=None):
        proc = start_saver(self.session, *args, locale=locale)
        dialog = wait_window(self.session, DIALOG_CLASS, "*")
        self.assertIsNotNone(dialog, "the dialog appears")
        self.assertEqual(dialog["title"], "設定")
        return proc, dialog

    def assertJapaneseTexts(self, dialog):
        controls = children(self.session, dialog["hwnd"])
        by_id = {c["id"]: c for c in controls}
        for control_id, text in TEXTS.items():
            self.assertEqual(by_id[control_id]["title"], text, f"control {control_id}")
        self.assertEqual([c["title"] for c in controls if c["id"] == 0xFFFF], STATIC_TEXTS)

    def controls(self, dialog):
        return {c["id"]: c for c in children(self.session, dialog["hwnd"]) if c["id"] != 0xFFFF}

    def layout(self, dialog):
        """The controls as they were first seen: their places do not change."""
        if dialog["hwnd"] not in self.layouts:
            self.layouts[dialog["hwnd"]] = self.controls(dialog)
        return self.layouts[dialog["hwnd"]]

    def shown(self, dialog):
        """(seconds text, reveal text, random checked, fit checked)"""
        c = self.controls(dialog)
        self.assertNotEqual(c[CATALOGUE]["checked"], c[RANDOM]["checked"], "one order button is checked")
        self.assertNotEqual(c[ORIGINAL]["checked"], c[FIT]["checked"], "one size button is checked")
        return c[SECONDS]["title"], c[REVEAL]["title"], c[RANDOM]["checked"], c[FIT]["checked"]

    def set_edit(self, dialog, control_id, text):
        s = self.session
        click_window(s, self.layout(dialog)[control_id])
        xdotool(s, "key", "End", "shift+Home", "BackSpace")
        if text:
            xdotool(s, "type", "--delay", "30", text)
        self.assertTrue(harness.wait_until(lambda: self.controls(dialog)[control_id]["title"] == text, 5),
                        f"edit {control_id} holds {text!r}")

    def click(self, dialog, control_id, times=1):
        for _ in range(times):
            click_window(self.session, self.layout(dialog)[control_id])

    def click_arrow(self, dialog, spin_id, up, times):
        left, top, right, bottom = self.layout(dialog)[spin_id]["rect"]
        y = top + (bottom - top) // 4 if up else bottom - (bottom - top) // 4
        for _ in range(times):
            harness.click_at(self.session, (left + right) // 2, y)

    def screenshot(self, dialog, name):
        focus(self.session, dialog)  # an active caption, as right after opening
        left, top, right, bottom = dialog["rect"]
        harness.settled_screenshot(self.session, name, [left + 5, top + 30, right - 5, bottom - 5])

    def finish(self, proc, dialog, control_id):
        self.click(dialog, control_id)
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), control_id, "the dialog's result is the exit code")

    def test_first_opening_writes_the_default_and_shows_japanese_texts(self):
        s = self.session
        proc, dialog = self.open_dialog("/c")
        self.assertEqual(settings(s), {"t1": 5}, "opening with no key writes t1 = 5 and nothing else")
        self.assertEqual(self.shown(dialog), ("5", "0", False, False))
        self.assertJapaneseTexts(dialog)
        self.screenshot(dialog, "dialog-first-opening")
        self.finish(proc, dialog, CANCEL)
        self.assertEqual(settings(s), {"t1": 5}, "Cancel stores nothing")

    def test_an_english_system_shows_the_same_japanese_texts(self):
        # Code page 1252 has no Japanese: texts that went through it would be "?".
        self.assertEqual(harness.ansi_code_page(self.session, harness.ENGLISH), 1252)
        proc, dialog = self.open_dialog("/c", locale=harness.ENGLISH)
        self.assertJapaneseTexts(dialog)
        self.screenshot(dialog, "dialog-english-locale")
        self.finish(proc, dialog, CANCEL)

    def test_ok_stores_what_the_controls_hold(self):
        s = self.session
        proc, dialog = self.open_dialog()
        self.set_edit(dialog, SECONDS, "1000")  # beyond the arrows' 300: stored as typed
        self.set_edit(dialog, REVEAL, "12")
        self.click(dialog, RANDOM)
        self.click(dialog, FIT)
        self.assertEqual(self.shown(dialog), ("1000", "12", True, True))
        self.screenshot(dialog, "dialog-edited")
        self.finish(proc, dialog, OK)
        self.assertEqual(settings(s), {"t1": 1000, "t2": 12, "t4": 1, "t6": 1})
        for name in ("t1", "t2", "t4", "t6"):
            self.assertEqual(harness.reg_query(s, name)[0], "REG_DWORD", name)

        proc, dialog = self.open_dialog("/c")
        self.assertEqual(self.shown(dialog), ("1000", "12", True, True), "the next opening shows what was stored")
        focus(s, dialog)
        xdotool(s, "key", "Escape")
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), CANCEL)
        self.assertEqual(settings(s), {"t1": 1000, "t2": 12, "t4": 1, "t6": 1})

    def test_an_empty_seconds_edit_stores_zero_and_the_next_opening_restores_five(self):
        s = self.session
        proc, dialog = self.open_dialog("/c")
        self.set_edit(dialog, SECONDS, "")
        focus(s, dialog)
        xdotool(s, "key", "Return")  # the default button is OK
        self.assertEqual(wait_exit(proc, harness.CLOSE_TIMEOUT), OK)
        self.assertEqual(settings(s), {"t1": 0, "t2": 0, "t4": 0, "t6": 0})

        proc, dialog = self.open_dialog("/c")
        self.assertEqual(self.shown(dialog)[0], "5")
        self.assertEqual(settings(s)["t1"], 5, "the opening writes the default back")
        self.finish(proc, dialog, CANCEL)

    def test_cancel_stores_nothing_and_odd_flags_read_as_the_defaults(self):
        s = self.session
        set_settings(s, t1=7, t2=3, t4=2, t6=2)
        proc, dialog = self.open_dialog("/c")
        self.assertEqual(self.shown(dialog), ("7", "3", False, False), "2 is neither random nor fitted")
        self.set_edit(dialog, SECONDS, "42")
        self.set_edit(dialog, REVEAL, "9")
        self.click(dialog, RANDOM)
        self.click(dialog, FIT)
        self.finish(proc, dialog, CANCEL)
        self.assertEqual(settings(s), {"t1": 7, "t2": 3, "t4": 2, "t6": 2})

        proc, dialog = self.open_dialog("/c")
        self.finish(proc, dialog, OK)
        self.assertEqual(settings(s), {"t1": 7, "t2": 3, "t4": 0, "t6": 0}, "OK stores the checked buttons")

    def test_the_arrows_keep_to_their_ranges(self):
        s = self.session
        set_settings(s, t1=299, t2=1)
        proc, dialog = self.open_dialog("/c")
        self.click_arrow(dialog, SECONDS_SPIN, up=True, times=3)
        self.click_arrow(dialog, REVEAL_SPIN, up=False, times=3)
        self.assertTrue(harness.wait_until(lambda: self.shown(dialog)[:2] == ("300", "0"), 5),
                        f"arrows stop at 300 and 0, shown: {self.shown(dialog)}")
        self.click_arrow(dialog, SECONDS_SPIN, up=False, times=2)
        self.click_arrow(dialog, REVEAL_SPIN, up=True, times=2)
        self.assertTrue(harness.wait_until(lambda: self.shown(dialog)[:2] == ("298", "2"), 5),
                        f"the arrows step by one, shown: {self.shown(dialog)}")
        self.finish(proc, dialog, OK)
        self.assertEqual(settings(s), {"t1": 298, "t2": 2, "t4": 0, "t6": 0})

    def test_the_folder_group_stores_t7_and_t8_and_its_button_opens_the_browser(self):
        s = self.session
        path = harness.windows_path(os.path.join(pictures.work_dir(), "写真フォルダ"))
        set_settings(s, t7=1)
        harness.reg_add(s, harness.SETTINGS_KEY, "t8", "REG_SZ", path)
        proc, dialog = self.open_dialog("/c")
        def folder_group():  # (checked, path shown, path and button greyed)
            c = self.controls(dialog)
            return c[FOLDER_SHOW]["checked"], c[FOLDER_PATH]["title"], [
                bool(int(c[i]["style"], 16) & WS_DISABLED) for i in (FOLDER_PATH, FOLDER_BROWSE)]
        self.assertEqual(folder_group(), (True, path, [False, False]))
        self.click(dialog, FOLDER_SHOW)
        self.assertTrue(harness.wait_until(lambda: folder_group() == (False, path, [True, True]), 5))
        self.click(dialog, FOLDER_SHOW)
        self.click(dialog, FOLDER_BROWSE)
        browsers = []
        def browser_open():
            browsers[:] = [w for w in harness.top_windows(s)[1]
                           if w["class"] == DIALOG_CLASS and w["owner"] == dialog["hwnd"] and w["visible"]]
            return bool(browsers)
        self.assertTrue(harness.wait_until(browser_open, 15), "the folder browser opens")
        harness.screenshot(s, "dialog-folder-browser")
        # Wine's browser does not open on a folder with a Japanese name (it
        # stops at the drive), so it is left with Cancel.
        focus(s, browsers[0])
        xdotool(s, "key", "Escape")
        self.assertTrue(harness.wait_until(lambda: folder_group() == (True, path, [False, False]), 10))
        self.screenshot(dialog, "dialog-folder")
        self.finish(proc, dialog, OK)
        self.assertEqual((harness.reg_query(s, "t7"), harness.reg_query(s, "t8")),
                         (("REG_DWORD", 1), ("REG_SZ", path)))

if __name__ == "__main__":
    harness.main()
