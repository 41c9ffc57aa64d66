// The live link's polling timer procedure, started with the application.
#pragma once

#include "platform/win/wintypes.h"

/// Runs every second on the host's main thread (a window-less timer).
void LinkTimerProc(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
