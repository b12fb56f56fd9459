// Picture presentation. The decoding, fitting and reveal arrive with the JPEG
// decoder; until then each step only keeps the timers' contract, so the window
// stays black.
#include "slideshow.h"

void CALLBACK NextPictureTimerProc(HWND window, UINT, UINT_PTR, DWORD) { KillTimer(window, NEXT_PICTURE_TIMER); }

void CALLBACK RevealTimerProc(HWND, UINT, UINT_PTR, DWORD) {}
