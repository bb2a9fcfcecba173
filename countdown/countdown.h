// The countdown counter and its two rules: how the command-line tail sets
// it, and how a timer tick advances it.
#pragma once

#include "platform/platform.h"

// A counter of k means k + 1 more ticks: the countdown runs out on the tick
// that takes it below zero.
constexpr int DefaultCountdown = 10;

extern int Countdown;

// Sets Countdown from the tail: decimal digits, spaces ignored anywhere, the
// first other byte ends the scan. A value above 2 gives value - 1 (so N ticks);
// anything else leaves the default (11 ticks).
void ReadCountdownArgument(LPCSTR tail);

// Lowers Countdown by one; true when the countdown has run out.
bool CountdownTick();
