#include "app/linktimer.h"

#include "link/linkcontrol.h"

// The polling lives with the change queue it watches.
void LinkTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  PollLink();
}
