// The program's one view of the platform: the real Win32 headers when built
// for Windows, the simulated subset when built for the host tests.
#pragma once

#if defined(_WIN32)
#include <windows.h>
// Constant texts go with the code: a section of their own would cost the
// executable 512 bytes of file alignment.
#define PROGRAM_TEXT __attribute__((section(".text$texts")))
#else
#include "platform/sim/win32.h"
#define PROGRAM_TEXT
#endif
