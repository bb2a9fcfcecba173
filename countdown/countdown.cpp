#include "countdown/countdown.h"

int Countdown = DefaultCountdown;

void ReadCountdownArgument(LPCSTR tail)
{
    Countdown = DefaultCountdown;
    if (tail == nullptr || lstrlenA(tail) <= 0)
        return;

    // Unsigned, so an overlong number wraps modulo 2^32 instead of overflowing.
    unsigned int value = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tail);; ++p) {
        if (*p == ' ')
            continue;
        if (*p < '0' || *p > '9')
            break;
        value = value * 10u + static_cast<unsigned int>(*p - '0');
    }

    const int count = static_cast<int>(value);
    if (count > 2)
        Countdown = count - 1;
}

bool CountdownTick()
{
    --Countdown;
    return Countdown < 0;
}
