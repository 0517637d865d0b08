// Threshold ranges as the monitoring plugin guidelines write them, [@][START:][END],
// and whether a count alerts against one.
#pragma once

#include <cstdint>

// Bounds have at most this many digits, so that no value can pass 32 bits
// and nothing is read as some other number.
inline constexpr int RANGE_DIGITS = 9;

struct threshold_range {
    bool given;
    bool inside;     // @: alert inside the range instead of outside it
    bool has_start;  // false for ~, minus infinity
    bool has_end;    // false for N:, infinity
    int64_t start, end;
    const char *text;  // as given, for the performance data
};

// Reads 1 to `most` decimal digits at `text` into `value`, moving `text`
// past them; false for none, or for more (then neither means anything).
// The one number reader for the check's options.
bool read_digits(const char *&text, int most, int64_t &value);

enum class range_fault { none, malformed, reversed };

// N alerts above N (0:N), N: below N, ~:N above N, N:M outside N to M and
// @N:M inside it. Refused: an empty range, ~: alone (it could never alert),
// signs, bounds of more than RANGE_DIGITS digits, and a start above its end.
range_fault parse_range(const char *text, threshold_range &range);

bool range_alerts(const threshold_range &range, int64_t count);
