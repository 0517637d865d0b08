// Turns the command line into report_settings. Nothing here can fail: a limit
// that is not a number is 0 and the run goes on.
#include "settings.hpp"

int32_t parse_limit(const char *text)
{
    // The C locale's white space, which is what atoi skips.
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        text++;
    bool negative = false;
    if (*text == '+' || *text == '-')
        negative = *text++ == '-';

    // Accumulate the magnitude in 64 bits and stop growing once it has passed
    // the 32-bit range, so any number of digits is safe.
    const int64_t ceiling = negative ? -int64_t{INT32_MIN} : int64_t{INT32_MAX};
    int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        if (magnitude <= ceiling)
            magnitude = magnitude * 10 + (*text - '0');
    }
    if (magnitude > ceiling)
        magnitude = ceiling;
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

report_settings parse_settings(int argument_count, const char *const *arguments)
{
    report_settings settings = {DEFAULT_PATTERN, DEFAULT_YELLOW_LIMIT, DEFAULT_RED_LIMIT};
    if (argument_count > 3)
        settings.red_limit = parse_limit(arguments[3]);
    if (argument_count > 2)
        settings.yellow_limit = parse_limit(arguments[2]);
    if (argument_count > 1)
        settings.pattern = arguments[1];
    return settings;
}
