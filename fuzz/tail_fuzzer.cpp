// The command-line tail, against the rule's plain description: the program
// name, then the blanks after it; what is left is the tail.
#include "app/app.h"
#include "platform/sim/control.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
bool Lead(unsigned char c) // code page 932
{
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Where the tail starts in the line.
size_t ModelTail(const std::string& line, bool doubleByte)
{
    size_t i = 0;
    const auto at = [&](size_t k) { return static_cast<unsigned char>(line[k]); };
    if (!line.empty() && line[0] == '"') {
        // The name runs to the next quote (taken with it) or to the end; a lead
        // byte inside takes the byte after it, when there is one.
        i = 1;
        while (i < line.size() && line[i] != '"')
            i += doubleByte && Lead(at(i)) && i + 1 < line.size() ? 2 : 1;
        if (i < line.size())
            ++i;
    } else {
        while (i < line.size() && at(i) > 32)
            ++i;
    }
    while (i < line.size() && at(i) >= 1 && at(i) <= 32)
        ++i;
    return i;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool doubleByte = data[0] & 1;
    const size_t length = strnlen(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string line(reinterpret_cast<const char*>(data + 1), length);
    std::vector<char> buffer(line.begin(), line.end()); // exactly sized, for AddressSanitizer
    buffer.push_back('\0');

    sim::Reset();
    if (doubleByte) {
        sim::AddLeadByteRange(0x81, 0x9F);
        sim::AddLeadByteRange(0xE0, 0xFC);
    }
    const char* tail = CommandLineTail(buffer.data());
    if (tail < buffer.data() || tail > buffer.data() + length ||
        static_cast<size_t>(tail - buffer.data()) != ModelTail(line, doubleByte))
        std::abort();
    return 0;
}
