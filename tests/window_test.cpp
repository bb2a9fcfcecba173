#include "calls.h"
#include "countdown/countdown.h"
#include "window/window.h"

#include <gtest/gtest.h>

namespace {

class CountdownWindowTest : public testing::Test {
protected:
    void SetUp() override { sim::Reset(); }

    // The registered class and the hidden window w1, with a clean record.
    HWND Create()
    {
        EXPECT_NE(RegisterCountdownClass(sim::ModuleHandle()), 0);
        EXPECT_EQ(CreateCountdownWindow(sim::ModuleHandle(), SW_SHOWDEFAULT), 1);
        sim::ClearLog();
        return sim::WindowHandle(1);
    }
};

TEST_F(CountdownWindowTest, RegistersTheClass)
{
    EXPECT_NE(RegisterCountdownClass(sim::ModuleHandle()), 0);
    EXPECT_CALLS((Calls{"LoadIconA(null, 32512)", "LoadCursorA(null, 32512)", "GetStockObject(0)",
                        "RegisterClassA(\"Tovrel95Class\")"}),
                 Recorded());

    const std::optional<sim::Class> c = sim::RegisteredClass("Tovrel95Class");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->record.style, 0u);
    EXPECT_EQ(c->record.lpfnWndProc, &CountdownWindowProc);
    EXPECT_EQ(c->record.cbClsExtra, 0);
    EXPECT_EQ(c->record.cbWndExtra, 0);
    EXPECT_EQ(c->record.hInstance, sim::ModuleHandle());
    EXPECT_EQ(c->record.hIcon, sim::StockApplicationIcon());
    EXPECT_EQ(c->record.hCursor, sim::StockArrowCursor());
    EXPECT_EQ(c->record.hbrBackground, sim::StockWhiteBrush());
    EXPECT_EQ(c->record.lpszMenuName, nullptr);
}

TEST_F(CountdownWindowTest, RegistrationFailureGivesZero)
{
    sim::Fail("RegisterClassA");
    EXPECT_EQ(RegisterCountdownClass(sim::ModuleHandle()), 0);
}

// Creation: WM_CREATE arrives inside CreateWindowExA and arms timer 1.
TEST_F(CountdownWindowTest, CreatesAHiddenWindowThatArmsTheTimer)
{
    const int showStates[] = {SW_SHOWDEFAULT, 1 /* SW_SHOWNORMAL */, 3 /* SW_SHOWMAXIMIZED */, 0 /* SW_HIDE */};
    for (int show : showStates) {
        sim::Reset();
        ASSERT_NE(RegisterCountdownClass(sim::ModuleHandle()), 0);
        sim::ClearLog();

        EXPECT_EQ(CreateCountdownWindow(sim::ModuleHandle(), show), 1);

        EXPECT_CALLS((Calls{"CreateWindowExA(0x0, \"Tovrel95Class\", \"Tovrel\", 0xcf0000, default, default, default, "
                            "default, null, null, inst, null)",
                            "w1 <- WM_CREATE(0, create)", "SetTimer(w1, 1, 900, null)",
                            "DefWindowProcA(w1, WM_CREATE, 0, create)"}),
                     Recorded());
        ASSERT_EQ(sim::Windows().size(), 1u);
        EXPECT_EQ(sim::Windows()[0].style & WS_VISIBLE, 0u) << "show state " << show;
    }
}

TEST_F(CountdownWindowTest, RefusedFirstTimerRefusesCreation)
{
    ASSERT_NE(RegisterCountdownClass(sim::ModuleHandle()), 0);
    sim::Fail("SetTimer");
    sim::ClearLog();

    EXPECT_EQ(CreateCountdownWindow(sim::ModuleHandle(), SW_SHOWDEFAULT), 0);

    EXPECT_CALLS((Calls{"w1 <- WM_CREATE(0, create)", "SetTimer(w1, 1, 900, null)", "w1 <- WM_DESTROY(0, 0)",
                        "PostQuitMessage(0)"}),
                 Recorded({"w1", "SetTimer", "DefWindowProcA", "PostQuitMessage"}));
    EXPECT_FALSE(sim::Windows()[0].alive);
}

TEST_F(CountdownWindowTest, CreationFailureGivesZero)
{
    ASSERT_NE(RegisterCountdownClass(sim::ModuleHandle()), 0);
    sim::Fail("CreateWindowExA");
    EXPECT_EQ(CreateCountdownWindow(sim::ModuleHandle(), SW_SHOWDEFAULT), 0);
    EXPECT_TRUE(sim::Windows().empty());
}

struct MessageCase {
    const char* name;
    int countdown;
    UINT message;
    WPARAM wParam;
    const char* failing; // a platform operation that fails, or null
    Calls calls;
    int countdownAfter;
    bool alive;
};

const MessageCase MessageCases[] = {
    {"tick that goes on", 5, WM_TIMER, 1, nullptr,
     {"KillTimer(w1, 1)", "SetTimer(w1, 1, 900, null)", "DefWindowProcA(w1, WM_TIMER, 1, 0)"}, 4, true},
    {"tick on zero goes on", 1, WM_TIMER, 1, nullptr,
     {"KillTimer(w1, 1)", "SetTimer(w1, 1, 900, null)", "DefWindowProcA(w1, WM_TIMER, 1, 0)"}, 0, true},
    {"last tick", 0, WM_TIMER, 1, nullptr,
     {"KillTimer(w1, 1)", "DestroyWindow(w1)", "w1 <- WM_DESTROY(0, 0)", "PostQuitMessage(0)",
      "DefWindowProcA(w1, WM_TIMER, 1, 0)"},
     -1, false},
    {"another timer identifier counts", 5, WM_TIMER, 7, nullptr,
     {"KillTimer(w1, 1)", "SetTimer(w1, 1, 900, null)", "DefWindowProcA(w1, WM_TIMER, 7, 0)"}, 4, true},
    {"timer that cannot be renewed ends the countdown", 5, WM_TIMER, 1, "SetTimer",
     {"KillTimer(w1, 1)", "SetTimer(w1, 1, 900, null)", "DestroyWindow(w1)", "w1 <- WM_DESTROY(0, 0)",
      "PostQuitMessage(0)", "DefWindowProcA(w1, WM_TIMER, 1, 0)"},
     4, false},
    {"command is answered without default handling", 5, WM_COMMAND, 0, nullptr, {}, 5, true},
    {"close request destroys the window", 5, WM_CLOSE, 0, nullptr,
     {"DefWindowProcA(w1, WM_CLOSE, 0, 0)", "w1 <- WM_DESTROY(0, 0)", "PostQuitMessage(0)"}, 5, false},
    {"destroy posts the quit message", 5, WM_DESTROY, 0, nullptr, {"PostQuitMessage(0)"}, 5, true},
    {"other messages get default handling", 5, 0x0400, 3, nullptr, {"DefWindowProcA(w1, 0x400, 3, 0)"}, 5, true},
};

void PrintTo(const MessageCase& c, std::ostream* out)
{
    *out << c.name;
}

class CountdownWindowProcTest : public CountdownWindowTest, public testing::WithParamInterface<MessageCase> {};

TEST_P(CountdownWindowProcTest, HandlesTheMessage)
{
    const MessageCase& c = GetParam();
    const HWND window = Create();
    Countdown = c.countdown;
    if (c.failing)
        sim::Fail(c.failing, 2); // the first call was made at creation

    EXPECT_EQ(CountdownWindowProc(window, c.message, c.wParam, 0), 0);

    // Deliveries to the window procedure are recorded only when the platform makes them.
    Calls calls = Recorded();
    EXPECT_CALLS(c.calls, calls);
    EXPECT_EQ(Countdown, c.countdownAfter);
    EXPECT_EQ(sim::Windows()[0].alive, c.alive);
}

INSTANTIATE_TEST_SUITE_P(Messages, CountdownWindowProcTest, testing::ValuesIn(MessageCases),
                         [](const testing::TestParamInfo<MessageCase>& info) { return CaseName(info.param.name); });

} // namespace
