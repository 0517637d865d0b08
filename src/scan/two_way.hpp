// Substring search in linear time and constant space (Crochemore and Perrin's
// Two-Way algorithm), for patterns too long for the byte-mask filter.
#pragma once

#include <cstddef>

struct two_way_plan {
    const unsigned char *pattern;
    size_t length;
    size_t split;   // the critical factorisation: pattern = [0, split) + [split, length)
    size_t period;  // of the whole pattern when `periodic`, else the shift after a match
    bool periodic;
};

two_way_plan plan_two_way(const char *pattern, size_t length);

// The first occurrence of the planned pattern in text[0, size), or nullptr.
const char *find_two_way(const two_way_plan &plan, const char *text, size_t size);
