// Sends messages to the running full-screen saver from another program, as
// the system and other programs do, and says when it did. Prints one JSON
// record per line. The saver window is found by its class and title.
//
//   send_to_saver post MSG[:WPARAM] ...       PostMessageA each message in turn
//   send_to_saver send-registered NAME [HWND] SendMessageTimeoutA of the message
//                                             that RegisterWindowMessageA(NAME)
//                                             gives, to HWND if given; prints its
//                                             number and the answer
//   send_to_saver invalidate                  has the whole saver window erased and
//                                             repainted, as a closed window over it does
//   send_to_saver close-after-verify MS ...   prints {"ready":true}, waits (at most
//                                             60 s) until the password stand-in
//                                             signals the end of a verification,
//                                             then posts WM_CLOSE MS after that
//                                             moment, for each MS in turn
//
// Numbers are decimal or 0x hexadecimal. Exit code 0, or 1 when there is no
// saver window or no verification ended in time.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

unsigned long Number(const char* text) { return std::strtoul(text, nullptr, 0); }

HWND SaverWindow() { return FindWindowA("WindowsScreenSaverClass", "Screen Saver"); }

std::string Handle(HWND window) {
    return std::to_string(
        static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window) & 0xFFFFFFFFu));
}

int Post(int count, char** messages) {
    HWND saver = SaverWindow();
    if (!saver) return 1;
    for (int i = 0; i < count; ++i) {
        const char* colon = std::strchr(messages[i], ':');
        const UINT message = static_cast<UINT>(Number(messages[i]));
        const WPARAM wParam = colon ? Number(colon + 1) : 0;
        const BOOL posted = PostMessageA(saver, message, wParam, 0);
        Print("{\"message\":" + std::to_string(message) +
              ",\"posted\":" + (posted ? "true" : "false") +
              ",\"tick\":" + std::to_string(GetTickCount()) + ",\"window\":" + Handle(saver) + "}");
    }
    return 0;
}

int SendRegistered(const char* name, HWND window) {
    HWND saver = window ? window : SaverWindow();
    if (!saver) return 1;
    const UINT message = RegisterWindowMessageA(name);
    DWORD_PTR answer = 0;
    const bool answered =
        SendMessageTimeoutA(saver, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) != 0;
    Print("{\"message\":" + std::to_string(message) +
          ",\"answered\":" + (answered ? "true" : "false") +
          ",\"result\":" + std::to_string(static_cast<unsigned long>(answer)) + "}");
    return 0;
}

int CloseAfterVerify(int count, char** delays) {
    HANDLE ended = CreateEventA(nullptr, FALSE, FALSE, "DunmereStandinVerifyEnded");
    if (!ended) return 1;
    Print("{\"ready\":true}");
    if (WaitForSingleObject(ended, 60000) != WAIT_OBJECT_0) return 1;
    const DWORD woke = GetTickCount();
    HWND saver = SaverWindow();
    std::string posts;
    for (int i = 0; i < count; ++i) {
        const DWORD due = woke + static_cast<DWORD>(Number(delays[i]));
        while (static_cast<LONG>(GetTickCount() - due) < 0) Sleep(1);
        const BOOL posted = saver && PostMessageA(saver, WM_CLOSE, 0, 0);
        const DWORD tick = GetTickCount();
        posts += std::string(i ? "," : "") + "{\"tick\":" + std::to_string(tick) +
                 ",\"posted\":" + (posted ? "true" : "false") + "}";
    }
    Print("{\"woke\":" + std::to_string(woke) + ",\"window\":" + Handle(saver) + ",\"posts\":[" +
          posts + "]}");
    CloseHandle(ended);
    return saver ? 0 : 1;
}

int Usage() {
    std::fputs(
        "usage: send_to_saver post MSG[:WPARAM]...|send-registered NAME [HWND]|close-after-verify "
        "MS...\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "invalidate")
        return SaverWindow() && RedrawWindow(SaverWindow(), nullptr, nullptr,
                                             RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW)
                   ? 0
                   : 1;
    if (argc < 3) return Usage();
    const std::string what = argv[1];
    if (what == "post") return Post(argc - 2, argv + 2);
    if (what == "send-registered" && (argc == 3 || argc == 4))
        return SendRegistered(argv[2], argc == 4 ? reinterpret_cast<HWND>(static_cast<intptr_t>(
                                                       static_cast<int32_t>(Number(argv[3]))))
                                                 : nullptr);
    if (what == "close-after-verify") return CloseAfterVerify(argc - 2, argv + 2);
    return Usage();
}
