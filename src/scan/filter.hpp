// What the count looks for, planned once for the run: the pattern's two
// rarest bytes and their places, its words for the verify, and its Two-Way plan.
#pragma once

#include <cstddef>
#include <cstdint>

#include "scan/two_way.hpp"

// Up to this length candidates are verified by masked word compares; longer
// patterns go to Two-Way, so that hostile input cannot make the verification
// quadratic.
inline constexpr size_t FILTER_PATTERN_LIMIT = 32;
inline constexpr size_t FILTER_WORDS = FILTER_PATTERN_LIMIT / 8;

struct pattern_filter {
    const char *pattern;
    size_t length;
    bool can_match;             // false when a newline stands before the pattern's last byte
    size_t offset_1, offset_2;  // where the pattern's two rarest bytes sit in it
    char byte_1, byte_2;
    // The pattern in 8-byte words, zero-padded, and masks of the bytes that count.
    size_t word_count;
    uint64_t words[FILTER_WORDS], word_masks[FILTER_WORDS];
    two_way_plan plan;
};

pattern_filter plan_filter(const char *pattern);
