#include "window/window.h"

#include "countdown/countdown.h"

namespace {
PROGRAM_TEXT constexpr char ClassName[] = "Tovrel95Class";
PROGRAM_TEXT constexpr char Title[] = "Tovrel";

BOOL ArmTimer(HWND window)
{
    return SetTimer(window, CountdownTimerId, TickIntervalMs, nullptr) != 0;
}
} // namespace

int RegisterCountdownClass(HINSTANCE instance)
{
    WNDCLASSA windowClass;
    windowClass.style = 0;
    windowClass.lpfnWndProc = CountdownWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = ClassName;
    return RegisterClassA(&windowClass);
}

int CreateCountdownWindow(HINSTANCE instance, int /*showState*/)
{
    // No WS_VISIBLE, and nothing ever shows it.
    HWND window = CreateWindowExA(0, ClassName, Title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    return window != nullptr ? 1 : 0;
}

LRESULT CALLBACK CountdownWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        // Without a first tick the hidden program would wait forever: refuse
        // creation instead.
        if (!ArmTimer(window))
            return -1;
        return DefWindowProcA(window, message, wParam, lParam);

    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;

    case WM_COMMAND:
        return 0;

    case WM_TIMER:
        // Any WM_TIMER counts as a tick, whatever its identifier. The timer is
        // renewed per tick, so each 900 ms counts from the last tick handled;
        // if it cannot be renewed the countdown ends now rather than never.
        KillTimer(window, CountdownTimerId);
        if (CountdownTick() || !ArmTimer(window))
            DestroyWindow(window);
        return DefWindowProcA(window, message, wParam, lParam);

    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
