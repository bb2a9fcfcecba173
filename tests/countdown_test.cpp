#include "countdown/countdown.h"
#include "calls.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

struct ReadCase {
    const char* name;
    std::optional<std::string> tail; // nullopt: a null tail
    int countdown;
};

const ReadCase ReadCases[] = {
    {"null", std::nullopt, 10},
    {"empty", "", 10},
    {"zero", "0", 10},
    {"one", "1", 10},
    {"two", "2", 10},
    {"three, the least that counts", "3", 2},
    {"ten", "10", 9},
    {"thirty", "30", 29},
    {"leading zeros", "007", 6},
    {"spaces between digits", "1 5", 14},
    {"leading space", " 12", 11},
    {"trailing spaces", "12   ", 11},
    {"only spaces", "   ", 10},
    {"letters after", "12abc", 11},
    {"letters before", "abc12", 10},
    {"minus sign", "-5", 10},
    {"plus sign", "+5", 10},
    {"tab ends the scan", "5\t7", 4},
    {"byte from 128 ends the scan", "4\xb5" "9", 3},
    {"byte from 128 first", "\xb5" "49", 10},
    {"largest signed value", "2147483647", 2147483646},
    {"2^31 wraps negative", "2147483648", 10},
    {"2^32 - 1 wraps to -1", "4294967295", 10},
    {"2^32 wraps to 0", "4294967296", 10},
    {"2^32 + 3 wraps to 3", "4294967299", 2},
    {"2^32 + 30 wraps to 30", "4294967326", 29},
    {"many digits wrap modulo 2^32", "99999999999999999999", 1661992958},
};

void PrintTo(const ReadCase& c, std::ostream* out)
{
    *out << c.name;
}

class ReadCountdownArgumentTest : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadCountdownArgumentTest, SetsTheCounter)
{
    sim::Reset();
    const ReadCase& c = GetParam();
    Countdown = -7; // the rule starts afresh whatever the counter held
    ReadCountdownArgument(c.tail ? c.tail->c_str() : nullptr);
    EXPECT_EQ(Countdown, c.countdown);
}

INSTANTIATE_TEST_SUITE_P(Tails, ReadCountdownArgumentTest, testing::ValuesIn(ReadCases),
                         [](const testing::TestParamInfo<ReadCase>& info) { return CaseName(info.param.name); });

TEST(ReadCountdownArgumentLimitsTest, EveryByteAfterTwoDigits)
{
    sim::Reset();
    for (int b = 1; b < 256; ++b) {
        const std::string tail = std::string("12") + char(b) + "5";
        const int expected = b == ' ' ? 124 : (b >= '0' && b <= '9') ? 1200 + (b - '0') * 10 + 5 - 1 : 11;
        ReadCountdownArgument(tail.c_str());
        EXPECT_EQ(Countdown, expected) << "byte " << b;
    }
}

TEST(ReadCountdownArgumentLimitsTest, LongestTail)
{
    sim::Reset();
    const size_t longest = 32767 - 1;
    const std::string zeros = std::string(longest - 1, '0') + "3";
    ReadCountdownArgument(zeros.c_str());
    EXPECT_EQ(Countdown, 2);

    // 32,766 nines: 10^32766 - 1 modulo 2^32, computed digit by digit in 64 bits.
    const std::string nines(longest, '9');
    uint64_t value = 0;
    for (size_t i = 0; i < longest; ++i)
        value = (value * 10 + 9) % (uint64_t(1) << 32);
    const int64_t wrapped = value >= (uint64_t(1) << 31) ? int64_t(value) - (int64_t(1) << 32) : int64_t(value);
    ReadCountdownArgument(nines.c_str());
    EXPECT_EQ(Countdown, wrapped > 2 ? wrapped - 1 : 10);
}

TEST(CountdownTickTest, RunsOutOnTheTickBelowZero)
{
    struct {
        int before, after;
        bool ranOut;
    } const cases[] = {{10, 9, false}, {1, 0, false}, {0, -1, true}};
    for (const auto& c : cases) {
        Countdown = c.before;
        EXPECT_EQ(CountdownTick(), c.ranOut) << "from " << c.before;
        EXPECT_EQ(Countdown, c.after) << "from " << c.before;
    }
}

TEST(CountdownTickTest, ArgumentNGivesNTicksAndTheDefaultEleven)
{
    sim::Reset();
    const struct {
        const char* tail;
        int ticks;
    } cases[] = {{"", 11}, {"2", 11}, {"3", 3}, {"10", 10}, {"60", 60}};
    for (const auto& c : cases) {
        ReadCountdownArgument(c.tail);
        int ticks = 1;
        while (!CountdownTick())
            ++ticks;
        EXPECT_EQ(ticks, c.ticks) << "tail \"" << c.tail << "\"";
    }
}

} // namespace
