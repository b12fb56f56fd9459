// Native stand-in for the thread message queue and the message box (see
// include/windows.h). There are no windows here, so nothing is ever posted but
// the quit message: PeekMessageA finds that one (as Windows does, once the
// queue is otherwise empty) and nothing else.
#include <windows.h>
#include <winstub_testing.h>

#include <cstdio>

namespace {

// Per thread, as Windows keeps one queue per thread.
thread_local bool t_quitPosted;
thread_local int t_quitCode;
long g_peekCalls;

}  // namespace

long WinstubPeekMessageCount() { return g_peekCalls; }

BOOL PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
  ++g_peekCalls;
  // The quit message belongs to no window; a range of 0..0 means every message.
  bool rangeHasQuit = (first == 0 && last == 0) || (first <= WM_QUIT && WM_QUIT <= last);
  if (!t_quitPosted || window != nullptr || !rangeHasQuit || msg == nullptr) return FALSE;
  *msg = MSG{};
  msg->message = WM_QUIT;
  msg->wParam = static_cast<WPARAM>(static_cast<std::intptr_t>(t_quitCode));
  if (remove & PM_REMOVE) t_quitPosted = false;
  return TRUE;
}

// No message ever reaches these two but the quit message, which is neither
// translated nor dispatched to a window.
BOOL TranslateMessage(const MSG *) { return FALSE; }
LRESULT DispatchMessageA(const MSG *) { return 0; }

void PostQuitMessage(int exitCode) {
  t_quitPosted = true;
  t_quitCode = exitCode;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
  std::fflush(stderr);
  return IDOK;
}
