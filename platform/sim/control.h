// Test controls of the simulated platform: a fresh process, the start-up
// state, a virtual clock, failures on demand, messages from "another program"
// at chosen times, and the record of every platform call.
#pragma once

#include "platform/sim/win32.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Millis = uint64_t;

// One platform call made by the program, or one message delivered to a window
// procedure ("w1 <- WM_DESTROY(0, 0)"), at its virtual time. Windows appear as
// w1, w2, ... in order of creation.
struct Event {
    Millis time;
    std::string text;
};

// ExitProcess ends a simulated process by throwing this.
struct ProcessExit {
    UINT code;
};

// Thrown where the real program would block forever: GetMessageA with no
// message, no timer and nothing else to come.
struct WouldWaitForever : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A new process: clock at 0, no classes or windows, empty log, no failures,
// command line "tovrel.exe", no start-up show flag, no lead bytes, Windows NT.
void Reset();

Millis Now();
const std::vector<Event>& Log();
void ClearLog();

void SetCommandLine(std::string commandLine);
void SetStartupInfo(DWORD flags, WORD showWindow);
// Bytes first..last test as double-byte lead bytes (as in code page 932).
void AddLeadByteRange(BYTE first, BYTE last);
// Windows 9x: the token calls are stubs that fail, and a restart needs no
// privilege. Otherwise (NT) ExitWindowsEx(EWX_REBOOT) fails with
// ERROR_PRIVILEGE_NOT_HELD unless the shutdown privilege was enabled.
void EmulateWindows9x();

// The nth call (from 1) of the named operation fails, setting error as the
// last error. GetMessageA fails with -1, the others with 0 or FALSE.
void Fail(std::string_view operation, int nth = 1, DWORD error = ERROR_NOT_ENOUGH_MEMORY);

// Another program acts at a virtual time: posts WM_CLOSE or WM_TIMER (with
// its own identifier) to the first live window, or posts WM_QUIT with a code
// to the program's thread.
void PostCloseAt(Millis time);
void PostTimerAt(Millis time, WPARAM timerId);
void PostQuitAt(Millis time, int exitCode);

struct Window {
    std::string className;
    std::string title;
    DWORD exStyle;
    DWORD style;
    int x, y, width, height;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
    void* param;
    bool alive;
};
// Every window created, in order: Windows()[0] is w1.
const std::vector<Window>& Windows();
HWND WindowHandle(int id);

struct Class {
    WNDCLASSA record;
    std::string name;
};
std::optional<Class> RegisteredClass(std::string_view name);

HINSTANCE ModuleHandle();
HICON StockApplicationIcon();
HCURSOR StockArrowCursor();
HGDIOBJ StockWhiteBrush();

bool ShutdownPrivilegeEnabled();
int OpenHandles();

} // namespace sim
