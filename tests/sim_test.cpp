// The simulated platform's own promises, which the program's tests rely on.
#include "calls.h"

#include <gtest/gtest.h>

namespace {

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

class SimTest : public testing::Test {
protected:
    void SetUp() override
    {
        sim::Reset();
        WNDCLASSA c{};
        c.lpfnWndProc = PlainProc;
        c.lpszClassName = "Plain";
        ASSERT_NE(RegisterClassA(&c), 0);
    }

    HWND NewWindow()
    {
        return CreateWindowExA(0, "Plain", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    }
};

TEST_F(SimTest, TimersFireInTheirOrderOnTheVirtualClock)
{
    const HWND w = NewWindow();
    SetTimer(w, 1, 900, nullptr);
    SetTimer(w, 2, 500, nullptr);
    MSG m;
    const struct {
        sim::Millis time;
        WPARAM id;
    } expected[] = {{500, 2}, {900, 1}, {1000, 2}, {1500, 2}, {1800, 1}};
    for (const auto& e : expected) {
        ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
        EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
        EXPECT_EQ(m.wParam, e.id);
        EXPECT_EQ(sim::Now(), e.time);
    }
}

TEST_F(SimTest, PostedMessagesComeBeforeTheQuitAndTheQuitBeforeTimers)
{
    const HWND w = NewWindow();
    SetTimer(w, 1, 0, nullptr);
    PostQuitMessage(3);
    sim::PostCloseAt(0);
    MSG m;
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_CLOSE));
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.wParam, 3u);
    ASSERT_EQ(GetMessageA(&m, nullptr, 0, 0), 1);
    EXPECT_EQ(m.message, static_cast<UINT>(WM_TIMER));
}

TEST_F(SimTest, DestroyingAWindowDeliversWmDestroyAndEndsItsTimers)
{
    const HWND w = NewWindow();
    SetTimer(w, 1, 900, nullptr);
    sim::ClearLog();
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_CALLS((Calls{"DestroyWindow(w1)", "w1 <- WM_DESTROY(0, 0)", "DefWindowProcA(w1, WM_DESTROY, 0, 0)"}),
                 Recorded());
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    MSG m;
    EXPECT_THROW(GetMessageA(&m, nullptr, 0, 0), sim::WouldWaitForever);
}

TEST_F(SimTest, DefaultHandlingOfCloseDestroysTheWindow)
{
    const HWND w = NewWindow();
    DefWindowProcA(w, WM_CLOSE, 0, 0);
    EXPECT_FALSE(sim::Windows()[0].alive);
}

TEST_F(SimTest, WaitingWithNothingToComeFailsInsteadOfHanging)
{
    MSG m;
    try {
        GetMessageA(&m, nullptr, 0, 0);
        FAIL() << "GetMessageA returned";
    } catch (const sim::WouldWaitForever& e) {
        EXPECT_STREQ(e.what(), "GetMessageA would wait forever at 0 ms: no message is queued, no timer is set and no "
                               "other program will send one");
    }
}

TEST_F(SimTest, FailsTheNthCallOnly)
{
    const HWND w = NewWindow();
    sim::Fail("SetTimer", 2, 1234);
    EXPECT_EQ(SetTimer(w, 1, 900, nullptr), 1u);
    EXPECT_EQ(SetTimer(w, 1, 900, nullptr), 0u);
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(SetTimer(w, 1, 900, nullptr), 1u);
}

TEST_F(SimTest, ForeignMessagesForAGoneWindowAreDropped)
{
    const HWND w = NewWindow();
    DestroyWindow(w);
    sim::PostTimerAt(100, 7);
    sim::PostQuitAt(200, 5);
    MSG m;
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_EQ(sim::Now(), 200u);
}

} // namespace
