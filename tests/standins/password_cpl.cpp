// Stands in, in the tests, for PASSWORD.CPL, the Windows 9x component that asks
// for the screen saver password. Wine has none.
//
// VerifyScreenSavePwd(window) shows a real modal dialog owned by `window` with
// a password box, OK and Cancel, and answers TRUE only when the box holds the
// password of standins.ini (Enter or OK); a wrong password or Cancel (Escape)
// answer FALSE. Settings in [standin] of standins.ini:
//   password=TEXT   the right password (default "dunmere")
//   answer=dialog   ask (default); accept or reject answer at once, without a dialog
//   hold=1          stop the saver inside the creation of its window until the
//                   file "release" appears in this folder (at most 30 s), so
//                   that the test can look at the system from outside then
//
// The log records the component's loading and freeing, each call with the
// window it was given, the dialog and its owner, the answer with the tick count
// after the dialog has gone, and what it sees of its caller: the system's
// screen-saver-running flag when the saver window is created, and each close
// request (WM_CLOSE) the saver's thread takes from its queue, with its tick.
// The end of each verification is also signalled to other processes through
// the event "DunmereStandinVerifyEnded".
//
// Built with STANDIN_WITHOUT_VERIFY it is a PASSWORD.CPL that lacks the
// function: it only logs its loading and freeing.
#include "standin_support.h"

#include <cstring>
#include <vector>

namespace {

constexpr char STANDIN_NAME[] = "password.cpl";
HMODULE self;

#ifndef STANDIN_WITHOUT_VERIFY

constexpr char SAVER_CLASS[] = "WindowsScreenSaverClass";
constexpr int PASSWORD_BOX_ID = 100;
enum : INT_PTR { ANSWER_RIGHT = 1, ANSWER_WRONG = 2, ANSWER_CANCEL = 3 };

HHOOK creationHook;
HHOOK queueHook;

bool IsSaverWindow(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return std::strcmp(name, SAVER_CLASS) == 0;
}

void HoldUntilReleased() {
    const std::string release = StandinFolder(self) + "release";
    StandinLog(self, STANDIN_NAME, "holding");
    const DWORD start = GetTickCount();
    while (GetFileAttributesA(release.c_str()) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < 30000)
        Sleep(10);
    StandinLog(self, STANDIN_NAME, "released");
}

LRESULT CALLBACK WatchCreation(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && IsSaverWindow(reinterpret_cast<HWND>(wParam))) {
        StandinLog(self, STANDIN_NAME, "create-window",
                   JsonWindow("window", reinterpret_cast<HWND>(wParam)) + "," +
                       JsonBool("flag", SaverRunningFlag()));
        if (StandinSetting(self, "hold", "0") == "1") HoldUntilReleased();
    }
    return CallNextHookEx(creationHook, code, wParam, lParam);
}

LRESULT CALLBACK WatchQueue(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_CLOSE)
        StandinLog(self, STANDIN_NAME, "close-request", JsonWindow("window", message->hwnd));
    return CallNextHookEx(queueHook, code, wParam, lParam);
}

// A dialog template in memory: the stand-in has no resources of its own.
void PutDword(std::vector<WORD>& words, DWORD d) {
    words.push_back(LOWORD(d));
    words.push_back(HIWORD(d));
}

void PutText(std::vector<WORD>& words, const wchar_t* text) {
    do words.push_back(static_cast<WORD>(*text));
    while (*text++);
}

void PutItem(std::vector<WORD>& words, DWORD style, short x, short y, short cx, short cy, WORD id,
             WORD atom, const wchar_t* text) {
    if (words.size() % 2) words.push_back(0);  // items start on a DWORD boundary
    PutDword(words, style | WS_CHILD | WS_VISIBLE);
    PutDword(words, 0);
    for (short v : {x, y, cx, cy}) words.push_back(static_cast<WORD>(v));
    words.push_back(id);
    words.push_back(0xFFFF);  // a predefined class by atom
    words.push_back(atom);
    PutText(words, text);
    words.push_back(0);  // no creation data
}

const DLGTEMPLATE* PasswordDialog() {
    static std::vector<WORD> words;
    if (words.empty()) {
        PutDword(words,
                 DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP | WS_CAPTION | WS_SYSMENU);
        PutDword(words, 0);
        for (WORD v : {4, 0, 0, 180, 62}) words.push_back(v);  // items, x, y, cx, cy
        words.push_back(0);                                    // no menu
        words.push_back(0);                                    // the dialog class
        PutText(words, L"Password stand-in");
        constexpr WORD BUTTON_CLASS = 0x80, EDIT_CLASS = 0x81, STATIC_CLASS = 0x82;
        PutItem(words, SS_LEFT, 8, 10, 50, 10, 0xFFFF, STATIC_CLASS, L"Password:");
        PutItem(words, ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 60, 8, 110, 12,
                PASSWORD_BOX_ID, EDIT_CLASS, L"");
        PutItem(words, BS_DEFPUSHBUTTON | WS_TABSTOP, 66, 40, 50, 14, IDOK, BUTTON_CLASS, L"OK");
        PutItem(words, BS_PUSHBUTTON | WS_TABSTOP, 122, 40, 50, 14, IDCANCEL, BUTTON_CLASS,
                L"Cancel");
    }
    return reinterpret_cast<const DLGTEMPLATE*>(words.data());
}

INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            StandinLog(self, STANDIN_NAME, "dialog",
                       JsonWindow("dialog", dialog) + "," +
                           JsonWindow("owner", GetWindow(dialog, GW_OWNER)));
            SetFocus(GetDlgItem(dialog, PASSWORD_BOX_ID));
            return FALSE;  // the focus is set
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                char typed[256] = {};
                GetDlgItemTextA(dialog, PASSWORD_BOX_ID, typed, sizeof typed);
                EndDialog(dialog, StandinSetting(self, "password", "dunmere") == typed
                                      ? ANSWER_RIGHT
                                      : ANSWER_WRONG);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, ANSWER_CANCEL);
                return TRUE;
            }
            return FALSE;
        default: return FALSE;
    }
}

const char* AnswerName(INT_PTR answer) {
    switch (answer) {
        case ANSWER_RIGHT: return "right";
        case ANSWER_WRONG: return "wrong";
        case ANSWER_CANCEL: return "cancel";
        default: return "no-dialog";
    }
}

void SignalVerifyEnded() {
    HANDLE ended = CreateEventA(nullptr, FALSE, FALSE, "DunmereStandinVerifyEnded");
    if (!ended) return;
    SetEvent(ended);
    CloseHandle(ended);
}

void StartWatching() {
    if (!StandinConfigured(self)) return;
    creationHook = SetWindowsHookExA(WH_CBT, WatchCreation, self, GetCurrentThreadId());
    queueHook = SetWindowsHookExA(WH_GETMESSAGE, WatchQueue, self, GetCurrentThreadId());
}

void StopWatching() {
    if (creationHook) UnhookWindowsHookEx(creationHook);
    if (queueHook) UnhookWindowsHookEx(queueHook);
    creationHook = queueHook = nullptr;
}

#else

void StartWatching() {}
void StopWatching() {}

#endif

}  // namespace

#ifndef STANDIN_WITHOUT_VERIFY

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
    StandinLog(self, STANDIN_NAME, "verify",
               JsonWindow("window", window) + "," + JsonBool("saver", IsSaverWindow(window)) + "," +
                   JsonBool("flag", SaverRunningFlag()));
    const std::string mode = StandinSetting(self, "answer", "dialog");
    INT_PTR answer;
    if (mode == "accept")
        answer = ANSWER_RIGHT;
    else if (mode == "reject")
        answer = ANSWER_WRONG;
    else
        answer = DialogBoxIndirectParamA(self, PasswordDialog(), window, PasswordDialogProc, 0);
    const BOOL result = answer == ANSWER_RIGHT;
    StandinLog(self, STANDIN_NAME, "answer",
               JsonNumber("result", static_cast<uint32_t>(result)) + "," +
                   JsonText("how", mode == "dialog" ? AnswerName(answer) : mode.c_str()));
    SignalVerifyEnded();
    return result;
}

#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        self = instance;
        StandinLog(self, STANDIN_NAME, "load",
                   JsonBool("flag", SaverRunningFlag()) + "," +
                       JsonBool("saverWindow",
                                FindWindowA("WindowsScreenSaverClass", nullptr) != nullptr));
        StartWatching();
    } else if (reason == DLL_PROCESS_DETACH) {
        // At process exit the hooks go with the process; FreeLibrary must take
        // them away first, or the system would call into a freed module.
        const bool freed = reserved == nullptr;
        if (freed) StopWatching();
        StandinLog(self, STANDIN_NAME, freed ? "free" : "process-exit",
                   JsonBool("flag", SaverRunningFlag()) + "," +
                       JsonBool("saverWindow",
                                FindWindowA("WindowsScreenSaverClass", nullptr) != nullptr));
    }
    return TRUE;
}
