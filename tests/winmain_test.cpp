#include "app/app.h"
#include "calls.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

// Runs the whole program from its entry point on a fresh simulated process;
// gives its exit code.
UINT RunProgram(const std::string& commandLine, const std::function<void()>& arrange = {})
{
    sim::Reset();
    sim::SetCommandLine(commandLine);
    if (arrange)
        arrange();
    try {
        TovrelEntry();
    } catch (const sim::ProcessExit& exit) {
        return exit.code;
    }
}

std::vector<sim::Millis> TimesOf(std::string_view prefix)
{
    std::vector<sim::Millis> times;
    for (const sim::Event& e : sim::Log()) {
        if (e.text.starts_with(prefix))
            times.push_back(e.time);
    }
    return times;
}

// The road of a whole run with a count of 3, call by call.
TEST(WholeRunTest, CountOfThreeTicksThreeTimesAndRestarts)
{
    EXPECT_EQ(RunProgram("tovrel.exe 3"), 0u);

    EXPECT_CALLS((Calls{
                     "0 GetCommandLineA()",
                     "0 lstrlenA(\"3\")",
                     "0 RegisterClassA(\"Tovrel95Class\")",
                     "0 SetTimer(w1, 1, 900, null)",
                     "900 KillTimer(w1, 1)",
                     "900 SetTimer(w1, 1, 900, null)",
                     "1800 KillTimer(w1, 1)",
                     "1800 SetTimer(w1, 1, 900, null)",
                     "2700 KillTimer(w1, 1)",
                     "2700 DestroyWindow(w1)",
                     "2700 w1 <- WM_DESTROY(0, 0)",
                     "2700 PostQuitMessage(0)",
                     "2700 GetMessageA(null, 0, 0) -> WM_QUIT(null, 0, 0)",
                     "2700 OpenProcessToken(process, 0x28)",
                     "2700 LookupPrivilegeValueA(null, \"SeShutdownPrivilege\")",
                     "2700 AdjustTokenPrivileges(token, FALSE, {19:0x2}, 0, null, null)",
                     "2700 CloseHandle(token)",
                     "2700 ExitWindowsEx(2, 0)",
                     "2700 ExitProcess(0)",
                 }),
                 RecordedWithTimes({"GetCommandLineA", "lstrlenA", "RegisterClassA", "SetTimer", "KillTimer",
                                    "DestroyWindow", "w1 <- WM_DESTROY", "PostQuitMessage", "GetMessageA(null, 0, 0) -> WM_QUIT",
                                    "OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges",
                                    "CloseHandle", "ExitWindowsEx", "ExitProcess"}));
    EXPECT_TRUE(sim::ShutdownPrivilegeEnabled());
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_EQ(sim::Windows()[0].style & WS_VISIBLE, 0u);
}

TEST(WholeRunTest, EveryMessageIsTranslatedThenDispatched)
{
    RunProgram("tovrel.exe 3");
    Calls firstTick = Recorded({"GetMessageA", "TranslateMessage", "DispatchMessageA", "w1 <- WM_TIMER"});
    firstTick.resize(4);
    EXPECT_CALLS((Calls{"GetMessageA(null, 0, 0) -> WM_TIMER(w1, 1, 0)", "TranslateMessage(WM_TIMER(w1, 1, 0))",
                        "DispatchMessageA(WM_TIMER(w1, 1, 0))", "w1 <- WM_TIMER(1, 0)"}),
                 firstTick);
}

struct RunCase {
    const char* name;
    std::string commandLine;
    std::function<void()> arrange;
    std::vector<sim::Millis> ticks;        // times of the ticks handled
    std::optional<sim::Millis> restartAt; // the one ExitWindowsEx, or none
    UINT exitCode;
};

std::vector<sim::Millis> Every900(int ticks)
{
    std::vector<sim::Millis> times;
    for (int i = 1; i <= ticks; ++i)
        times.push_back(900u * static_cast<sim::Millis>(i));
    return times;
}

const RunCase RunCases[] = {
    {"default count", "tovrel.exe", {}, Every900(11), 9900, 0},
    {"count of 2 gives the default", "tovrel.exe 2", {}, Every900(11), 9900, 0},
    {"count of 3", "tovrel.exe 3", {}, Every900(3), 2700, 0},
    {"count of 30", "tovrel.exe 30", {}, Every900(30), 27000, 0},
    {"quoted path with blanks", "\"C:\\Program Files\\Tovrel\\tovrel.exe\" 5", {}, Every900(5), 4500, 0},
    {"close before the end", "tovrel.exe", [] { sim::PostCloseAt(2000); }, Every900(2), 2000, 0},
    {"close before the first tick", "tovrel.exe 30", [] { sim::PostCloseAt(100); }, {}, 100, 0},
    {"foreign WM_TIMER counts as a tick", "tovrel.exe 3", [] { sim::PostTimerAt(1000, 7); }, {900, 1000, 1900}, 1900,
     0},
    {"foreign quit gives its code", "tovrel.exe", [] { sim::PostQuitAt(1000, 7); }, {900}, 1000, 7},
    {"class registration fails", "tovrel.exe", [] { sim::Fail("RegisterClassA"); }, {}, std::nullopt, 0},
    {"window creation fails", "tovrel.exe", [] { sim::Fail("CreateWindowExA"); }, {}, std::nullopt, 0},
    {"first timer refused", "tovrel.exe", [] { sim::Fail("SetTimer", 1); }, {}, std::nullopt, 0},
    {"timer refused on renewal", "tovrel.exe", [] { sim::Fail("SetTimer", 3); }, Every900(2), 1800, 0},
    {"GetMessageA fails", "tovrel.exe", [] { sim::Fail("GetMessageA", 3); }, Every900(2), 1800, 0},
    {"restart refused", "tovrel.exe 3", [] { sim::Fail("ExitWindowsEx", 1, ERROR_PRIVILEGE_NOT_HELD); },
     Every900(3), 2700, ERROR_PRIVILEGE_NOT_HELD},
    {"restart refused without an error code", "tovrel.exe 3", [] { sim::Fail("ExitWindowsEx", 1, 0); }, Every900(3),
     2700, 1},
    {"token cannot be opened", "tovrel.exe 3", [] { sim::Fail("OpenProcessToken", 1, 5); }, Every900(3), 2700,
     ERROR_PRIVILEGE_NOT_HELD},
    {"privilege unknown", "tovrel.exe 3", [] { sim::Fail("LookupPrivilegeValueA", 1, ERROR_NO_SUCH_PRIVILEGE); },
     Every900(3), 2700, ERROR_PRIVILEGE_NOT_HELD},
    {"privilege not adjusted", "tovrel.exe 3", [] { sim::Fail("AdjustTokenPrivileges", 1, ERROR_NOT_ALL_ASSIGNED); },
     Every900(3), 2700, ERROR_PRIVILEGE_NOT_HELD},
    {"Windows 9x: no token, restart all the same", "tovrel.exe 3", [] { sim::EmulateWindows9x(); }, Every900(3), 2700,
     0},
};

void PrintTo(const RunCase& c, std::ostream* out)
{
    *out << c.name;
}

class RunTest : public testing::TestWithParam<RunCase> {};

TEST_P(RunTest, EndsAsExpected)
{
    const RunCase& c = GetParam();
    const UINT exitCode = RunProgram(c.commandLine, c.arrange);

    EXPECT_EQ(exitCode, c.exitCode);
    EXPECT_EQ(TimesOf("w1 <- WM_TIMER"), c.ticks);
    const std::vector<sim::Millis> restarts = TimesOf("ExitWindowsEx(2, 0)");
    if (c.restartAt)
        EXPECT_EQ(restarts, std::vector<sim::Millis>{*c.restartAt});
    else
        EXPECT_TRUE(restarts.empty()) << "restart requested at " << restarts.front();
    EXPECT_EQ(TimesOf("ExitWindowsEx").size(), restarts.size()) << "restart requested with other flags";
    EXPECT_EQ(sim::OpenHandles(), 0) << "token left open";
    for (const sim::Window& w : sim::Windows())
        EXPECT_EQ(w.style & WS_VISIBLE, 0u);
}

INSTANTIATE_TEST_SUITE_P(Runs, RunTest, testing::ValuesIn(RunCases),
                         [](const testing::TestParamInfo<RunCase>& info) { return CaseName(info.param.name); });

TEST(EntryTest, HandsWinMainTheModuleAndTheTail)
{
    RunProgram("\"C:\\Tovrel\\tovrel.exe\"\t 4");
    EXPECT_CALLS((Calls{"GetModuleHandleA(null)", "lstrlenA(\"4\")"}), Recorded({"GetModuleHandleA", "lstrlenA"}));
    EXPECT_EQ(sim::RegisteredClass("Tovrel95Class")->record.hInstance, sim::ModuleHandle());
    EXPECT_EQ(sim::Windows()[0].instance, sim::ModuleHandle());
}

} // namespace
