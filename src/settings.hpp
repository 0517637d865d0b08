// The run's settings: the pattern and the two limits, taken from up to three
// positional arguments, and the forms the pattern may take in a listing.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr const char *DEFAULT_PATTERN = " Active ";
inline constexpr int32_t DEFAULT_YELLOW_LIMIT = 60;
inline constexpr int32_t DEFAULT_RED_LIMIT = 65;
// The program's name, the pattern and the two limits; later arguments are ignored.
inline constexpr int ARGUMENT_LIMIT = 4;

struct report_settings {
    const char *pattern;  // borrowed from the argument vector or a constant, never copied
    int32_t yellow_limit;
    int32_t red_limit;
};

// The forms one pattern takes in the encodings a listing may come in (on
// Windows: the OEM and ANSI code pages and UTF-8), each different from the
// others. A line counts once when it holds any of them. Most runs have one.
inline constexpr size_t FORM_LIMIT = 3;
struct pattern_forms {
    const char *form[FORM_LIMIT];
    size_t count;
};

// Converts a limit as atoi does (leading white space, one sign, digits up to
// the first other character, 0 without digits), but saturates at the bounds
// of a signed 32-bit integer instead of overflowing.
int32_t parse_limit(const char *text);

// Position 0 is the program's name and is never read; positions from
// ARGUMENT_LIMIT on are ignored.
report_settings parse_settings(int argument_count, const char *const *arguments);
