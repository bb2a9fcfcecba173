// A simulated subset of Win32 for the host build: exactly the types,
// constants and calls the program uses, with the platform's names.
// Behaviour and test controls are in sim/win32.cpp and sim/control.h.
#pragma once

#include <cstdint>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef WORD ATOM;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef DWORD* PDWORD;

// Distinct handle types, as the platform's strict handles are.
#define SIM_DECLARE_HANDLE(name) \
    struct name##__ { int unused; }; \
    typedef struct name##__* name
SIM_DECLARE_HANDLE(HWND);
SIM_DECLARE_HANDLE(HINSTANCE);
SIM_DECLARE_HANDLE(HICON);
SIM_DECLARE_HANDLE(HBRUSH);
SIM_DECLARE_HANDLE(HMENU);
#undef SIM_DECLARE_HANDLE
typedef HICON HCURSOR;
typedef HINSTANCE HMODULE;
typedef void* HGDIOBJ;

#define FALSE 0
#define TRUE 1

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct POINT {
    LONG x, y;
};

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};

struct CREATESTRUCTA {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy, cx, y, x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

struct STARTUPINFOA {
    DWORD cb;
    LPSTR lpReserved, lpDesktop, lpTitle;
    DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars;
    DWORD dwFillAttribute, dwFlags;
    WORD wShowWindow, cbReserved2;
    BYTE* lpReserved2;
    HANDLE hStdInput, hStdOutput, hStdError;
};
typedef STARTUPINFOA* LPSTARTUPINFOA;

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};
typedef LUID* PLUID;

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct TOKEN_PRIVILEGES {
    DWORD PrivilegeCount;
    LUID_AND_ATTRIBUTES Privileges[1];
};
typedef TOKEN_PRIVILEGES* PTOKEN_PRIVILEGES;

#define MAKEINTRESOURCEA(i) ((LPSTR)(UINT_PTR)(WORD)(i))
#define IDI_APPLICATION MAKEINTRESOURCEA(32512)
#define IDC_ARROW MAKEINTRESOURCEA(32512)

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113

#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WS_VISIBLE 0x10000000L
#define CW_USEDEFAULT ((int)0x80000000)
#define WHITE_BRUSH 0
#define EWX_REBOOT 0x00000002
#define EWX_FORCE 0x00000004
#define STARTF_USESHOWWINDOW 0x00000001
#define SW_SHOWDEFAULT 10

#define TOKEN_QUERY 0x0008
#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"

#define ERROR_SUCCESS 0
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_NO_SUCH_PRIVILEGE 1313
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_INVALID_WINDOW_HANDLE 1400
#define ERROR_CANNOT_FIND_WND_CLASS 1407
#define ERROR_CLASS_ALREADY_EXISTS 1410
#define ERROR_NOT_ALL_ASSIGNED 1300

// KERNEL32
int WINAPI lstrlenA(LPCSTR string);
BOOL WINAPI IsDBCSLeadByte(BYTE testChar);
LPSTR WINAPI GetCommandLineA();
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
void WINAPI GetStartupInfoA(LPSTARTUPINFOA startupInfo);
[[noreturn]] void WINAPI ExitProcess(UINT exitCode);
DWORD WINAPI GetLastError();
HANDLE WINAPI GetCurrentProcess();
BOOL WINAPI CloseHandle(HANDLE object);

// USER32
ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI DestroyWindow(HWND window);
void WINAPI PostQuitMessage(int exitCode);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC timerFunc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
HICON WINAPI LoadIconA(HINSTANCE instance, LPCSTR iconName);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName);
BOOL WINAPI GetMessageA(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL WINAPI TranslateMessage(const MSG* message);
LRESULT WINAPI DispatchMessageA(const MSG* message);
BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reserved);

// GDI32
HGDIOBJ WINAPI GetStockObject(int object);

// ADVAPI32
BOOL WINAPI OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR systemName, LPCSTR name, PLUID luid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength);
