#include "calls.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace {
Calls Pick(std::initializer_list<std::string_view> prefixes, bool withTimes)
{
    Calls picked;
    for (const sim::Event& event : sim::Log()) {
        const bool wanted = prefixes.size() == 0 || std::any_of(prefixes.begin(), prefixes.end(), [&](std::string_view p) {
                                return event.text.starts_with(p);
                            });
        if (wanted)
            picked.push_back(withTimes ? std::to_string(event.time) + " " + event.text : event.text);
    }
    return picked;
}

std::string Listing(const Calls& calls)
{
    std::ostringstream out;
    for (size_t i = 0; i < calls.size(); ++i)
        out << "  " << i + 1 << ". " << calls[i] << "\n";
    return calls.empty() ? "  (none)\n" : out.str();
}
} // namespace

Calls Recorded(std::initializer_list<std::string_view> prefixes)
{
    return Pick(prefixes, false);
}

Calls RecordedWithTimes(std::initializer_list<std::string_view> prefixes)
{
    return Pick(prefixes, true);
}

void ExpectCallsAt(const char* file, int line, const Calls& expected, const Calls& actual)
{
    const size_t common = std::min(expected.size(), actual.size());
    const size_t first = std::mismatch(expected.begin(), expected.begin() + common, actual.begin()).first - expected.begin();
    if (first == common && expected.size() == actual.size())
        return;

    std::ostringstream what;
    if (first < common)
        what << "call " << first + 1 << ": " << expected[first] << " was expected, but got " << actual[first] << " instead";
    else if (expected.size() > actual.size())
        what << "call " << first + 1 << ": " << expected[first] << " was expected, but the calls ended";
    else
        what << "call " << first + 1 << ": " << actual[first] << " came after the expected calls";
    ADD_FAILURE_AT(file, line) << what.str() << "\nexpected:\n" << Listing(expected) << "actual:\n" << Listing(actual);
}

std::string CaseName(std::string_view description)
{
    std::string name;
    for (char ch : description)
        name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}
