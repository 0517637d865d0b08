// The run's settings: the pattern and the two limits, taken from up to three
// positional arguments.
#pragma once

#include <cstdint>

inline constexpr const char *DEFAULT_PATTERN = " Active ";
inline constexpr int32_t DEFAULT_YELLOW_LIMIT = 60;
inline constexpr int32_t DEFAULT_RED_LIMIT = 65;

struct report_settings {
    const char *pattern;  // borrowed from the argument vector or a constant, never copied
    int32_t yellow_limit;
    int32_t red_limit;
};

// Converts a limit as atoi does (leading white space, one sign, digits up to
// the first other character, 0 without digits), but saturates at the bounds
// of a signed 32-bit integer instead of overflowing.
int32_t parse_limit(const char *text);

// Position 0 is the program's name and is never read; positions past 3 are ignored.
report_settings parse_settings(int argument_count, const char *const *arguments);
