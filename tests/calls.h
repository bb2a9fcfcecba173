// Expected platform calls as tables: pick the calls of interest from the
// simulated platform's record and compare them with what a test expects.
#pragma once

#include "platform/sim/control.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

using Calls = std::vector<std::string>;

// The recorded events whose text starts with one of the prefixes (all events
// when there are none), each optionally led by its virtual time: "900 KillTimer(w1, 1)".
Calls Recorded(std::initializer_list<std::string_view> prefixes = {});
Calls RecordedWithTimes(std::initializer_list<std::string_view> prefixes = {});

// Reports the first difference in words and prints both sequences.
void ExpectCallsAt(const char* file, int line, const Calls& expected, const Calls& actual);
#define EXPECT_CALLS(expected, actual) ExpectCallsAt(__FILE__, __LINE__, (expected), (actual))

// A readable test name from a case's description: "lead byte, last" -> "lead_byte__last".
std::string CaseName(std::string_view description);
