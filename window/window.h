// The program's only window: hidden, owner of the tick timer, and the way the
// end of the countdown becomes the end of the message loop.
#pragma once

#include "platform/platform.h"

constexpr UINT_PTR CountdownTimerId = 1;
constexpr UINT TickIntervalMs = 900;

// The class atom, 0 on failure.
int RegisterCountdownClass(HINSTANCE instance);

// 1 when the hidden window exists, 0 when it could not be created. The show
// state is accepted and not used: the window is never shown.
int CreateCountdownWindow(HINSTANCE instance, int showState);

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
