// probe.exe: another program, as the countdown meets it in the tests. Starts
// tovrel.exe with an exact command line and show state, then carries out its
// actions in order and reports each with the system's tick count (ms):
//
//   probe.exe EXE CMDLINE-HEX SHOW ACTION...
//
//   CMDLINE-HEX  the command line's bytes in hex, or @FILE holding them, for
//                lines longer than the probe's own command line may be
//   SHOW         "-" for no STARTF_USESHOWWINDOW, or the show state to pass
//   find         wait (up to 10 s) for the window by class; report it as found by
//                class, by title and by both, its visibility and its process
//   look         report whether the window exists and is visible
//   sleep MS     wait
//   close        post WM_CLOSE to the window
//   command      send WM_COMMAND to the window and report its answer
//   timer ID     post WM_TIMER with that identifier to the window
//   quit CODE    post WM_QUIT with that code to the program's thread
//   kill         end the program's process
//   wait MS      wait for the program to end; report its exit code and CPU time
//   version      read EXE's version information back (spaces shown as +)
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char ClassName[] = "Tovrel95Class";
const char Title[] = "Tovrel";

PROCESS_INFORMATION program;
HWND window;

// The system's tick count, the clock of Wine's trace time stamps too.
DWORD Now()
{
    return GetTickCount();
}

void Report(const char* format, ...)
{
    std::printf("%lu ", Now());
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

std::string FromHex(const char* hex)
{
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], 0};
        bytes += char(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

DWORD OwnerOf(HWND w)
{
    DWORD pid = 0;
    if (w)
        GetWindowThreadProcessId(w, &pid);
    return pid;
}

void Find()
{
    const DWORD started = Now();
    while (!(window = FindWindowA(ClassName, nullptr)) && Now() - started < 10000)
        Sleep(10);
    const HWND byTitle = FindWindowA(nullptr, Title);
    const HWND byBoth = FindWindowA(ClassName, Title);
    const LONG style = window ? GetWindowLongA(window, GWL_STYLE) : 0;
    Report("find class=%p title=%p both=%p owner=%lu program=%lu visible=%d style=%08lx", (void*)window,
           (void*)byTitle, (void*)byBoth, OwnerOf(window), program.dwProcessId,
           window ? int(IsWindowVisible(window)) : -1, (unsigned long)style);
}

void Version(const char* path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoA(path, 0, size, data.data())) {
        Report("version none error=%lu", GetLastError());
        return;
    }
    std::string line = "version";
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, " fixed=%u.%u.%u.%u", unsigned(HIWORD(fixed->dwFileVersionMS)),
                      unsigned(LOWORD(fixed->dwFileVersionMS)), unsigned(HIWORD(fixed->dwFileVersionLS)),
                      unsigned(LOWORD(fixed->dwFileVersionLS)));
        line += numbers;
    }
    for (const char* key : {"ProductName", "FileDescription", "FileVersion", "ProductVersion", "OriginalFilename"}) {
        char* value = nullptr;
        const std::string query = std::string("\\StringFileInfo\\040904E4\\") + key;
        if (VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) && value) {
            std::string shown = value;
            for (char& c : shown)
                c = c == ' ' ? '+' : c;
            line += std::string(" ") + key + "=" + shown;
        }
    }
    Report("%s", line.c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: probe.exe EXE CMDLINE-HEX SHOW ACTION...\n");
        return 2;
    }
    std::string hex = argv[2];
    if (hex[0] == '@') {
        FILE* file = std::fopen(hex.c_str() + 1, "rb");
        if (!file) {
            Report("start failed reading %s", hex.c_str() + 1);
            return 1;
        }
        hex.clear();
        for (int c; (c = std::fgetc(file)) != EOF;)
            hex += char(c);
        std::fclose(file);
    }
    std::string commandLine = FromHex(hex.c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (std::strcmp(argv[3], "-") != 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = WORD(std::atoi(argv[3]));
    }
    if (!CreateProcessA(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program)) {
        Report("start failed error=%lu", GetLastError());
        return 1;
    }
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    Report("started pid=%lu tid=%lu windows=%lu.%lu platform=%lu", program.dwProcessId, program.dwThreadId,
           version.dwMajorVersion, version.dwMinorVersion, version.dwPlatformId);

    for (int i = 4; i < argc; ++i) {
        const std::string action = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "0";
        if (action == "find") {
            Find();
        } else if (action == "look") {
            const HWND w = FindWindowA(ClassName, nullptr);
            Report("look exists=%d visible=%d", w != nullptr, w ? int(IsWindowVisible(w)) : -1);
        } else if (action == "sleep") {
            Sleep(DWORD(std::atoi(value)));
            ++i;
        } else if (action == "close") {
            Report("close posted=%d", int(PostMessageA(window, WM_CLOSE, 0, 0)));
        } else if (action == "command") {
            DWORD_PTR answer = 0xDEAD;
            const LRESULT sent = SendMessageTimeoutA(window, WM_COMMAND, 1, 0, SMTO_NORMAL, 5000, &answer);
            Report("command sent=%d answer=%lu", sent != 0, (unsigned long)answer);
        } else if (action == "timer") {
            Report("timer id=%s posted=%d", value, int(PostMessageA(window, WM_TIMER, WPARAM(std::atoi(value)), 0)));
            ++i;
        } else if (action == "quit") {
            Report("quit code=%s posted=%d", value,
                   int(PostThreadMessageA(program.dwThreadId, WM_QUIT, WPARAM(std::atoi(value)), 0)));
            ++i;
        } else if (action == "kill") {
            Report("kill done=%d", int(TerminateProcess(program.hProcess, 99)));
        } else if (action == "version") {
            Version(argv[1]);
        } else if (action == "wait") {
            const DWORD waited = WaitForSingleObject(program.hProcess, DWORD(std::atoi(value)));
            DWORD code = 0;
            GetExitCodeProcess(program.hProcess, &code);
            FILETIME created, exited, kernel, user;
            GetProcessTimes(program.hProcess, &created, &exited, &kernel, &user);
            const auto ms = [](const FILETIME& t) { return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 10000; };
            Report("wait ended=%d exit=%lu user_ms=%llu kernel_ms=%llu", waited == WAIT_OBJECT_0, code, ms(user),
                   ms(kernel));
            ++i;
        } else {
            Report("unknown action %s", action.c_str());
            return 2;
        }
    }
    return 0;
}
