// The simulated platform: one process, one thread, one message queue, window
// timers on a virtual clock. It behaves as Windows does for the calls the
// program makes and records each of them.
#include "platform/sim/control.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

namespace sim {
namespace {

constexpr uintptr_t ModuleValue = 0x400000;
constexpr uintptr_t FirstWindowValue = 0x10000;
constexpr uintptr_t IconValue = 0x20001;
constexpr uintptr_t CursorValue = 0x20002;
constexpr uintptr_t BrushValue = 0x20003;
constexpr uintptr_t TokenValue = 0x30000;
constexpr DWORD ShutdownLuid = 19;
const HANDLE CurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

struct Timer {
    int window;
    UINT_PTR id;
    UINT period;
    Millis due;
};

struct Posted {
    Millis time;
    enum Kind { Close, TimerMessage, Quit } kind;
    WPARAM wParam;
};

struct Failure {
    std::string operation;
    int nth;
    DWORD error;
};

struct Process {
    Millis now = 0;
    std::vector<Event> log;
    std::string commandLine = "tovrel.exe";
    DWORD startupFlags = 0;
    WORD startupShow = 0;
    std::vector<std::pair<BYTE, BYTE>> leadBytes;
    bool windows9x = false;
    DWORD lastError = 0;
    std::map<std::string, int, std::less<>> calls;
    std::vector<Failure> failures;
    std::vector<Class> classes;
    std::vector<Window> windows;
    std::vector<WNDPROC> procs;
    std::vector<Timer> timers;
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Posted> foreign;
    int tokensOpen = 0;
    DWORD tokenAccess = 0;
    bool privilegeEnabled = false;
};

Process& P()
{
    static Process process;
    return process;
}

void Record(std::string text)
{
    P().log.push_back({P().now, std::move(text)});
}

// Counts the call; true (with the last error set) when a test asked it to fail.
bool Fails(std::string_view operation)
{
    Process& p = P();
    const int n = ++p.calls[std::string(operation)];
    for (const Failure& f : p.failures) {
        if (f.operation == operation && f.nth == n) {
            p.lastError = f.error;
            return true;
        }
    }
    return false;
}

int WindowId(HWND window)
{
    const uintptr_t value = reinterpret_cast<uintptr_t>(window);
    if (value < FirstWindowValue + 1 || value > FirstWindowValue + P().windows.size())
        return 0;
    return static_cast<int>(value - FirstWindowValue);
}

bool Alive(int id)
{
    return id != 0 && P().windows[id - 1].alive;
}

std::string Hex(uintptr_t value)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return "0x" + text;
}

std::string Str(LPCSTR text)
{
    if (text == nullptr)
        return "null";
    if (reinterpret_cast<uintptr_t>(text) <= 0xFFFF)
        return std::to_string(reinterpret_cast<uintptr_t>(text));
    return "\"" + std::string(text) + "\"";
}

std::string Name(HWND window)
{
    if (window == nullptr)
        return "null";
    const int id = WindowId(window);
    return id != 0 ? "w" + std::to_string(id) : Hex(reinterpret_cast<uintptr_t>(window));
}

std::string Name(HINSTANCE instance)
{
    if (instance == nullptr)
        return "null";
    return reinterpret_cast<uintptr_t>(instance) == ModuleValue ? "inst" : Hex(reinterpret_cast<uintptr_t>(instance));
}

std::string Name(HANDLE handle)
{
    if (handle == nullptr)
        return "null";
    if (handle == CurrentProcess)
        return "process";
    return reinterpret_cast<uintptr_t>(handle) == TokenValue ? "token" : Hex(reinterpret_cast<uintptr_t>(handle));
}

std::string MessageName(UINT message)
{
    switch (message) {
    case WM_CREATE: return "WM_CREATE";
    case WM_DESTROY: return "WM_DESTROY";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_QUIT: return "WM_QUIT";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_TIMER: return "WM_TIMER";
    default: return Hex(message);
    }
}

std::string Describe(const MSG& m)
{
    return MessageName(m.message) + "(" + Name(m.hwnd) + ", " + std::to_string(m.wParam) + ", " +
           std::to_string(m.lParam) + ")";
}

LRESULT Deliver(int id, UINT message, WPARAM wParam, LPARAM lParam, const char* lParamText = nullptr)
{
    Record(Name(WindowHandle(id)) + " <- " + MessageName(message) + "(" + std::to_string(wParam) + ", " +
           (lParamText ? lParamText : std::to_string(lParam)) + ")");
    return P().procs[id - 1](WindowHandle(id), message, wParam, lParam);
}

// What DestroyWindow does, also when the platform itself destroys a window.
void Destroy(int id)
{
    Process& p = P();
    Deliver(id, WM_DESTROY, 0, 0);
    p.windows[id - 1].alive = false;
    std::erase_if(p.timers, [id](const Timer& t) { return t.window == id; });
    const HWND window = WindowHandle(id);
    std::erase_if(p.queue, [window](const MSG& m) { return m.hwnd == window; });
}

int FirstLiveWindow()
{
    for (size_t i = 0; i < P().windows.size(); ++i) {
        if (P().windows[i].alive)
            return static_cast<int>(i + 1);
    }
    return 0;
}

// Foreign messages due by now go into the queue, in their order.
void TakeForeignMessages()
{
    Process& p = P();
    std::stable_sort(p.foreign.begin(), p.foreign.end(),
                     [](const Posted& a, const Posted& b) { return a.time < b.time; });
    while (!p.foreign.empty() && p.foreign.front().time <= p.now) {
        const Posted f = p.foreign.front();
        p.foreign.erase(p.foreign.begin());
        if (f.kind == Posted::Quit) {
            p.queue.push_back({nullptr, WM_QUIT, f.wParam, 0, static_cast<DWORD>(p.now), {}});
            continue;
        }
        const int id = FirstLiveWindow();
        if (id == 0)
            continue; // nobody left to receive it
        const UINT message = f.kind == Posted::Close ? WM_CLOSE : WM_TIMER;
        p.queue.push_back({WindowHandle(id), message, f.wParam, 0, static_cast<DWORD>(p.now), {}});
    }
}

Timer* DueTimer()
{
    Process& p = P();
    Timer* due = nullptr;
    for (Timer& t : p.timers) {
        if (t.due <= p.now && (due == nullptr || t.due < due->due))
            due = &t;
    }
    return due;
}

// Next moment anything can happen while the thread waits.
std::optional<Millis> NextWake()
{
    std::optional<Millis> next;
    for (const Timer& t : P().timers)
        next = next ? std::min(*next, t.due) : t.due;
    for (const Posted& f : P().foreign)
        next = next ? std::min(*next, f.time) : f.time;
    return next;
}

} // namespace

void Reset()
{
    P() = Process();
}

Millis Now()
{
    return P().now;
}

const std::vector<Event>& Log()
{
    return P().log;
}

void ClearLog()
{
    P().log.clear();
}

void SetCommandLine(std::string commandLine)
{
    P().commandLine = std::move(commandLine);
}

void SetStartupInfo(DWORD flags, WORD showWindow)
{
    P().startupFlags = flags;
    P().startupShow = showWindow;
}

void AddLeadByteRange(BYTE first, BYTE last)
{
    P().leadBytes.emplace_back(first, last);
}

void EmulateWindows9x()
{
    P().windows9x = true;
}

void Fail(std::string_view operation, int nth, DWORD error)
{
    P().failures.push_back({std::string(operation), nth, error});
}

void PostCloseAt(Millis time)
{
    P().foreign.push_back({time, Posted::Close, 0});
}

void PostTimerAt(Millis time, WPARAM timerId)
{
    P().foreign.push_back({time, Posted::TimerMessage, timerId});
}

void PostQuitAt(Millis time, int exitCode)
{
    P().foreign.push_back({time, Posted::Quit, static_cast<WPARAM>(exitCode)});
}

const std::vector<Window>& Windows()
{
    return P().windows;
}

HWND WindowHandle(int id)
{
    return reinterpret_cast<HWND>(FirstWindowValue + static_cast<uintptr_t>(id));
}

std::optional<Class> RegisteredClass(std::string_view name)
{
    for (const Class& c : P().classes) {
        if (c.name == name)
            return c;
    }
    return std::nullopt;
}

HINSTANCE ModuleHandle()
{
    return reinterpret_cast<HINSTANCE>(ModuleValue);
}

HICON StockApplicationIcon()
{
    return reinterpret_cast<HICON>(IconValue);
}

HCURSOR StockArrowCursor()
{
    return reinterpret_cast<HCURSOR>(CursorValue);
}

HGDIOBJ StockWhiteBrush()
{
    return reinterpret_cast<HGDIOBJ>(BrushValue);
}

bool ShutdownPrivilegeEnabled()
{
    return P().privilegeEnabled;
}

int OpenHandles()
{
    return P().tokensOpen;
}

} // namespace sim

using namespace sim;

// KERNEL32

int WINAPI lstrlenA(LPCSTR string)
{
    Record("lstrlenA(" + Str(string) + ")");
    return string == nullptr ? 0 : static_cast<int>(std::strlen(string));
}

BOOL WINAPI IsDBCSLeadByte(BYTE testChar)
{
    Record("IsDBCSLeadByte(" + Hex(testChar) + ")");
    for (const auto& [first, last] : P().leadBytes) {
        if (testChar >= first && testChar <= last)
            return TRUE;
    }
    return FALSE;
}

LPSTR WINAPI GetCommandLineA()
{
    Record("GetCommandLineA()");
    return P().commandLine.data();
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    Record("GetModuleHandleA(" + Str(moduleName) + ")");
    return moduleName == nullptr ? ModuleHandle() : nullptr;
}

void WINAPI GetStartupInfoA(LPSTARTUPINFOA startupInfo)
{
    Record("GetStartupInfoA()");
    std::memset(startupInfo, 0, sizeof *startupInfo);
    startupInfo->cb = sizeof *startupInfo;
    startupInfo->dwFlags = P().startupFlags;
    startupInfo->wShowWindow = P().startupShow;
}

void WINAPI ExitProcess(UINT exitCode)
{
    Record("ExitProcess(" + std::to_string(exitCode) + ")");
    throw ProcessExit{exitCode};
}

DWORD WINAPI GetLastError()
{
    return P().lastError;
}

HANDLE WINAPI GetCurrentProcess()
{
    return CurrentProcess;
}

BOOL WINAPI CloseHandle(HANDLE object)
{
    Record("CloseHandle(" + Name(object) + ")");
    if (reinterpret_cast<uintptr_t>(object) != TokenValue || P().tokensOpen == 0) {
        P().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    --P().tokensOpen;
    return TRUE;
}

// USER32

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass)
{
    Record("RegisterClassA(" + Str(windowClass->lpszClassName) + ")");
    if (Fails("RegisterClassA"))
        return 0;
    if (RegisteredClass(windowClass->lpszClassName)) {
        P().lastError = ERROR_CLASS_ALREADY_EXISTS;
        return 0;
    }
    P().classes.push_back({*windowClass, windowClass->lpszClassName});
    return static_cast<ATOM>(0xC000 + P().classes.size());
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param)
{
    auto position = [](int v) { return v == CW_USEDEFAULT ? std::string("default") : std::to_string(v); };
    Record("CreateWindowExA(" + Hex(exStyle) + ", " + Str(className) + ", " + Str(windowName) + ", " + Hex(style) +
           ", " + position(x) + ", " + position(y) + ", " + position(width) + ", " + position(height) + ", " +
           Name(parent) + ", " + (menu ? "menu" : "null") + ", " + Name(instance) + ", " +
           (param ? "param" : "null") + ")");
    if (Fails("CreateWindowExA"))
        return nullptr;
    const std::optional<Class> windowClass = RegisteredClass(className);
    if (!windowClass) {
        P().lastError = ERROR_CANNOT_FIND_WND_CLASS;
        return nullptr;
    }

    Process& p = P();
    p.windows.push_back({className, windowName ? windowName : "", exStyle, style, x, y, width, height, parent, menu,
                         instance, param, true});
    p.procs.push_back(windowClass->record.lpfnWndProc);
    const int id = static_cast<int>(p.windows.size());

    CREATESTRUCTA create = {param, instance, menu, parent, height, width, y, x, static_cast<LONG>(style),
                            windowName, className, exStyle};
    if (Deliver(id, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create), "create") == -1) {
        // Creation refused by the window: the platform destroys it again.
        Destroy(id);
        return nullptr;
    }
    return WindowHandle(id);
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Record("DefWindowProcA(" + Name(window) + ", " + MessageName(message) + ", " + std::to_string(wParam) + ", " +
           (message == WM_CREATE ? std::string("create") : std::to_string(lParam)) + ")");
    const int id = WindowId(window);
    if (message == WM_CLOSE && Alive(id))
        Destroy(id);
    return 0;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    Record("DestroyWindow(" + Name(window) + ")");
    const int id = WindowId(window);
    if (!Alive(id)) {
        P().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return FALSE;
    }
    Destroy(id);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode)
{
    Record("PostQuitMessage(" + std::to_string(exitCode) + ")");
    P().quitPosted = true;
    P().quitCode = exitCode;
}

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc)
{
    Record("SetTimer(" + Name(window) + ", " + std::to_string(id) + ", " + std::to_string(elapse) + ", " +
           (timerFunc ? "proc" : "null") + ")");
    if (Fails("SetTimer"))
        return 0;
    const int w = WindowId(window);
    if (!Alive(w)) {
        P().lastError = ERROR_INVALID_WINDOW_HANDLE;
        return 0;
    }
    // Setting an existing timer again restarts it.
    Process& p = P();
    std::erase_if(p.timers, [w, id](const Timer& t) { return t.window == w && t.id == id; });
    p.timers.push_back({w, id, elapse, p.now + elapse});
    return id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id)
{
    Record("KillTimer(" + Name(window) + ", " + std::to_string(id) + ")");
    const int w = WindowId(window);
    const size_t removed = std::erase_if(P().timers, [w, id](const Timer& t) { return t.window == w && t.id == id; });
    return removed != 0 ? TRUE : FALSE;
}

HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName)
{
    Record("LoadIconA(" + Name(instance) + ", " + Str(iconName) + ")");
    return instance == nullptr && iconName == IDI_APPLICATION ? StockApplicationIcon() : nullptr;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName)
{
    Record("LoadCursorA(" + Name(instance) + ", " + Str(cursorName) + ")");
    return instance == nullptr && cursorName == IDC_ARROW ? StockArrowCursor() : nullptr;
}

// Posted messages first, then the quit message, then due timers; while there
// is none the virtual clock runs to the next timer or foreign message.
BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax)
{
    Process& p = P();
    const std::string call =
        "GetMessageA(" + Name(window) + ", " + std::to_string(filterMin) + ", " + std::to_string(filterMax) + ")";
    if (Fails("GetMessageA")) {
        Record(call + " -> -1");
        return -1;
    }
    for (;;) {
        TakeForeignMessages();
        if (!p.queue.empty()) {
            *message = p.queue.front();
            p.queue.pop_front();
            break;
        }
        if (p.quitPosted) {
            p.quitPosted = false;
            *message = {nullptr, WM_QUIT, static_cast<WPARAM>(p.quitCode), 0, static_cast<DWORD>(p.now), {}};
            break;
        }
        if (Timer* t = DueTimer()) {
            *message = {WindowHandle(t->window), WM_TIMER, t->id, 0, static_cast<DWORD>(p.now), {}};
            t->due = p.now + t->period;
            break;
        }
        const std::optional<Millis> wake = NextWake();
        if (!wake) {
            Record(call + " waits forever");
            throw WouldWaitForever("GetMessageA would wait forever at " + std::to_string(p.now) +
                                   " ms: no message is queued, no timer is set and no other program will send one");
        }
        p.now = std::max(p.now, *wake);
    }
    Record(call + " -> " + Describe(*message));
    return message->message == WM_QUIT ? 0 : 1;
}

BOOL WINAPI TranslateMessage(const MSG* message)
{
    Record("TranslateMessage(" + Describe(*message) + ")");
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* message)
{
    Record("DispatchMessageA(" + Describe(*message) + ")");
    const int id = WindowId(message->hwnd);
    if (!Alive(id))
        return 0;
    return Deliver(id, message->message, message->wParam, message->lParam);
}

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reserved)
{
    Record("ExitWindowsEx(" + std::to_string(flags) + ", " + std::to_string(reserved) + ")");
    if (Fails("ExitWindowsEx"))
        return FALSE;
    if (!P().windows9x && (flags & EWX_REBOOT) && !P().privilegeEnabled) {
        P().lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    return TRUE;
}

// GDI32

HGDIOBJ WINAPI GetStockObject(int object)
{
    Record("GetStockObject(" + std::to_string(object) + ")");
    return object == WHITE_BRUSH ? StockWhiteBrush() : nullptr;
}

// ADVAPI32

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token)
{
    Record("OpenProcessToken(" + Name(process) + ", " + Hex(desiredAccess) + ")");
    if (Fails("OpenProcessToken"))
        return FALSE;
    if (P().windows9x) {
        P().lastError = 120; // ERROR_CALL_NOT_IMPLEMENTED
        return FALSE;
    }
    if (process != CurrentProcess) {
        P().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    ++P().tokensOpen;
    P().tokenAccess = desiredAccess;
    *token = reinterpret_cast<HANDLE>(TokenValue);
    return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid)
{
    Record("LookupPrivilegeValueA(" + Str(systemName) + ", " + Str(name) + ")");
    if (Fails("LookupPrivilegeValueA"))
        return FALSE;
    if (P().windows9x) {
        P().lastError = 120;
        return FALSE;
    }
    if (name == nullptr || std::strcmp(name, SE_SHUTDOWN_NAME) != 0) {
        P().lastError = ERROR_NO_SUCH_PRIVILEGE;
        return FALSE;
    }
    *luid = {ShutdownLuid, 0};
    return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength)
{
    std::string call = "AdjustTokenPrivileges(" + Name(token) + ", " + (disableAll ? "TRUE" : "FALSE") + ", {";
    for (DWORD i = 0; newState && i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        call += (i ? ", " : "") + std::to_string(entry.Luid.LowPart) + ":" + Hex(entry.Attributes);
    }
    Record(call + "}, " + std::to_string(bufferLength) + ", " + (previousState ? "prev" : "null") + ", " +
           (returnLength ? "len" : "null") + ")");
    if (Fails("AdjustTokenPrivileges"))
        return FALSE;
    if (reinterpret_cast<uintptr_t>(token) != TokenValue || P().tokensOpen == 0) {
        P().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (!(P().tokenAccess & TOKEN_ADJUST_PRIVILEGES)) {
        P().lastError = 5; // ERROR_ACCESS_DENIED
        return FALSE;
    }
    for (DWORD i = 0; newState && !disableAll && i < newState->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        if (entry.Luid.LowPart == ShutdownLuid && entry.Luid.HighPart == 0)
            P().privilegeEnabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    }
    if (disableAll)
        P().privilegeEnabled = false;
    P().lastError = ERROR_SUCCESS;
    return TRUE;
}
