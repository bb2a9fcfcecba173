#include "app/app.h"

#include "countdown/countdown.h"
#include "window/window.h"

namespace {
PROGRAM_TEXT constexpr char ShutdownPrivilege[] = "SeShutdownPrivilege";

// On Windows NT and later a restart is refused unless the shutdown privilege
// is enabled in the process's own token. Where that cannot be done (Windows
// 9x stubs, a user without the right) the restart is still asked for.
void EnableShutdownPrivilege()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, ShutdownPrivilege, &privileges.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

// A refused restart is not reported as success: it yields the system's error.
int RequestRestart(int quitCode)
{
    EnableShutdownPrivilege();
    if (ExitWindowsEx(EWX_REBOOT, 0))
        return quitCode;
    const DWORD error = GetLastError();
    return error != 0 ? static_cast<int>(error) : 1;
}
} // namespace

extern "C" int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR tail, int showState)
{
    ReadCountdownArgument(tail);
    if (previous == nullptr && !RegisterCountdownClass(instance))
        return 0;
    if (!CreateCountdownWindow(instance, showState))
        return 0;

    // Every way out of the loop leads to the restart, a failing GetMessageA
    // (-1) included, which would otherwise spin.
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0 && got != -1) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return RequestRestart(got == 0 ? static_cast<int>(message.wParam) : 0);
}
