// Reads a threshold range strictly: anything but the guidelines' forms with
// whole numbers is refused, never taken as some number.
#include "check/ranges.hpp"

bool read_digits(const char *&text, int most, int64_t &value)
{
    value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; text++) {
        if (++digits > most)  // stops before the value could overflow
            return false;
        value = value * 10 + (*text - '0');
    }
    return digits > 0;
}

range_fault parse_range(const char *text, threshold_range &range)
{
    range = {true, false, true, true, 0, 0, text};
    const char *at = text;
    range.inside = *at == '@';
    if (range.inside)
        at++;
    if (at[0] == '~' && at[1] == ':') {
        range.has_start = false;
        at += 2;
    } else {
        int64_t first = 0;
        if (!read_digits(at, RANGE_DIGITS, first))
            return range_fault::malformed;
        if (*at == '\0') {
            range.end = first;  // N is 0:N
            return range_fault::none;
        }
        if (*at++ != ':')
            return range_fault::malformed;
        range.start = first;
        if (*at == '\0') {
            range.has_end = false;
            return range_fault::none;
        }
    }
    if (!read_digits(at, RANGE_DIGITS, range.end) || *at != '\0')
        return range_fault::malformed;
    if (range.has_start && range.start > range.end)
        return range_fault::reversed;
    return range_fault::none;
}

bool range_alerts(const threshold_range &range, int64_t count)
{
    if (!range.given)
        return false;
    const bool outside = (range.has_start && count < range.start) || (range.has_end && count > range.end);
    return range.inside ? !outside : outside;
}
