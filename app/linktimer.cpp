#include "app/linktimer.h"

// The change queue that this procedure drains comes with the live link; until a link is
// connected there is never anything to send.
void LinkTimerProc(HWND, UINT, UINT_PTR, DWORD) {}
