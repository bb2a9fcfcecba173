#include "app/app.h"

LPSTR CommandLineTail(LPSTR commandLine)
{
    if (commandLine == nullptr)
        return nullptr; // no command line, no count: the default
    // Bytes compare unsigned, so codes from 128 up are never taken for blanks.
    unsigned char* p = reinterpret_cast<unsigned char*>(commandLine);
    if (*p == '"') {
        // A quoted name runs to the closing quote, or to the end. A lead byte
        // takes its trail byte along, but never the terminating zero.
        for (++p; *p != '\0' && *p != '"'; ++p) {
            if (IsDBCSLeadByte(*p) && p[1] != '\0')
                ++p;
        }
        if (*p == '"')
            ++p;
    } else {
        while (*p > ' ')
            ++p;
    }
    while (*p != '\0' && *p <= ' ')
        ++p;
    return reinterpret_cast<LPSTR>(p);
}

extern "C" void WINAPI TovrelEntry()
{
    STARTUPINFOA startup;
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int showState = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ExitProcess(static_cast<UINT>(WinMain(GetModuleHandleA(nullptr), nullptr, CommandLineTail(GetCommandLineA()), showState)));
}
