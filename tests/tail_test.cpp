#include "app/app.h"
#include "calls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TailCase {
    const char* name;
    std::string commandLine;
    bool doubleByte; // lead bytes of code page 932
    std::string tail;
};

const TailCase TailCases[] = {
    {"plain name and count", "tovrel.exe 30", false, "30"},
    {"plain name alone", "tovrel.exe", false, ""},
    {"empty command line", "", false, ""},
    {"blanks after the name only", "tovrel.exe  \t ", false, ""},
    {"tabs after the name", "tovrel.exe\t\t7", false, "7"},
    {"control characters after the name", "tovrel.exe\x01\x1f 7", false, "7"},
    {"blanks inside the tail stay", "tovrel.exe  1 5 x", false, "1 5 x"},
    {"tab ends an unquoted name", "tovrel\t5", false, "5"},
    {"leading blank: empty name", " tovrel.exe 5", false, "tovrel.exe 5"},
    {"byte from 128 in an unquoted name", "t\xe9st.exe 4", false, "4"},
    {"quoted path with blanks", "\"C:\\Program Files\\Tovrel\\tovrel.exe\" 5", false, "5"},
    {"quoted path alone", "\"C:\\Program Files\\tovrel.exe\"", false, ""},
    {"empty quotes", "\"\" 8", false, "8"},
    {"unterminated quote", "\"C:\\Program Files\\tovrel.exe 5", false, ""},
    {"character right after the closing quote", "\"a b\"5", false, "5"},
    {"word right after the closing quote", "\"a b\"x 5", false, "x 5"},
    {"bytes from 128 in a quoted name", "\"\xe9t\xe9 \xff.exe\" 4", false, "4"},
    {"single-byte code page: no lead bytes", "\"ab\x81\"c\" 9", false, "c\" 9"},
    {"lead byte takes a quote as its trail byte", "\"ab\x81\"c\" 9", true, "9"},
    {"lead byte and unterminated quote", "\"ab\x81\" 9", true, ""},
    {"lead byte as the last byte", "\"abc\x81", true, ""},
    {"lead byte right after the quote, last", "\"\x81", true, ""},
};

void PrintTo(const TailCase& c, std::ostream* out)
{
    *out << c.name;
}

class CommandLineTailTest : public testing::TestWithParam<TailCase> {};

TEST_P(CommandLineTailTest, IsASuffixOfTheLine)
{
    const TailCase& c = GetParam();
    sim::Reset();
    if (c.doubleByte) {
        sim::AddLeadByteRange(0x81, 0x9F);
        sim::AddLeadByteRange(0xE0, 0xFC);
    }
    // An exactly sized heap copy, so a read past the terminator is caught by
    // AddressSanitizer.
    std::vector<char> line(c.commandLine.size() + 1);
    std::memcpy(line.data(), c.commandLine.c_str(), line.size());

    const char* tail = CommandLineTail(line.data());

    ASSERT_GE(tail, line.data());
    ASSERT_LT(tail, line.data() + line.size());
    EXPECT_EQ(std::string(tail), c.tail);
    EXPECT_EQ(static_cast<size_t>(tail - line.data()), c.commandLine.size() - c.tail.size());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, CommandLineTailTest, testing::ValuesIn(TailCases),
                         [](const testing::TestParamInfo<TailCase>& info) { return CaseName(info.param.name); });

// A heap copy of exactly the line's size, so reading past it is caught.
struct Line {
    explicit Line(const std::string& text) : bytes(text.size() + 1) { std::memcpy(bytes.data(), text.c_str(), bytes.size()); }
    std::vector<char> bytes;
    size_t TailAt() { return static_cast<size_t>(CommandLineTail(bytes.data()) - bytes.data()); }
};

TEST(CommandLineTailLimitsTest, NoCommandLineGivesNoTail)
{
    sim::Reset();
    EXPECT_EQ(CommandLineTail(nullptr), nullptr);
}

TEST(CommandLineTailLimitsTest, LongestCommandLine)
{
    sim::Reset();
    sim::AddLeadByteRange(0x81, 0x9F);
    const size_t longest = 32767 - 1; // characters before the terminator
    const struct {
        std::string line;
        size_t tail;
    } cases[] = {
        {"\"" + std::string(longest - 1, 'a'), longest},              // unterminated quote
        {"\"" + std::string(longest - 2, 'a') + "\x81", longest},     // ending in a lead byte
        {std::string(longest, 'a'), longest},                         // one long name
        {"t" + std::string(longest - 2, ' ') + "5", longest - 1},      // blanks up to the last byte
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.line.size(), longest);
        EXPECT_EQ(Line(c.line).TailAt(), c.tail);
    }
}

TEST(CommandLineTailLimitsTest, EveryByteAfterTheName)
{
    sim::Reset();
    for (int b = 1; b < 256; ++b) {
        const std::string line = std::string("tovrel") + char(b) + "5";
        const size_t expected = b <= 32 ? line.size() - 1 : line.size();
        EXPECT_EQ(Line(line).TailAt(), expected) << "byte " << b;
    }
}

TEST(CommandLineTailLimitsTest, EveryByteInsideQuotes)
{
    sim::Reset();
    sim::AddLeadByteRange(0x81, 0x9F);
    sim::AddLeadByteRange(0xE0, 0xFC);
    for (int b = 1; b < 256; ++b) {
        if (b == '"')
            continue;
        const std::string line = std::string("\"") + char(b) + "\" 5";
        // A lead byte takes the closing quote with it: the name then runs to the end.
        const bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(Line(line).TailAt(), lead ? line.size() : line.size() - 1) << "byte " << b;
    }
}

} // namespace
