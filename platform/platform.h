// The program's one view of the platform: the real Win32 headers when built
// for Windows, the simulated subset when built for the host tests.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include "platform/sim/win32.h"
#endif
