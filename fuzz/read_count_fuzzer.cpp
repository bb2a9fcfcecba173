// The count read from a command-line tail, against a model of the rule in
// 64-bit arithmetic reduced modulo 2^32.
#include "countdown/countdown.h"
#include "platform/sim/control.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
int ModelCount(const unsigned char* tail, size_t length)
{
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        if (tail[i] == ' ')
            continue;
        if (tail[i] < '0' || tail[i] > '9')
            break;
        value = (value * 10 + (tail[i] - '0')) % (uint64_t(1) << 32);
    }
    const int64_t count = value >= (uint64_t(1) << 31) ? int64_t(value) - (int64_t(1) << 32) : int64_t(value);
    return count > 2 ? int(count - 1) : 10;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The tail as the entry hands it over: zero-terminated, in a buffer of exactly that size.
    const size_t length = strnlen(reinterpret_cast<const char*>(data), size);
    std::vector<char> tail(data, data + length);
    tail.push_back('\0');

    sim::Reset();
    ReadCountdownArgument(tail.data());
    if (Countdown != ModelCount(reinterpret_cast<const unsigned char*>(tail.data()), length))
        std::abort();
    return 0;
}
