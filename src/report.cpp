// Classifies the count and writes the report. Output goes through the stream's
// buffer and is checked once, after the flush, as a write error sticks to the stream.
#include "report.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstring>

#include "platform/platform.hpp"

const char *colour_text(status_colour colour)
{
    switch (colour) {
    case status_colour::red:
        return "red";
    case status_colour::yellow:
        return "yellow";
    case status_colour::green:
        break;
    }
    return "green";
}

status_colour classify_count(int64_t match_count, int32_t yellow_limit, int32_t red_limit)
{
    if (match_count > red_limit)
        return status_colour::red;
    if (match_count > yellow_limit)
        return status_colour::yellow;
    return status_colour::green;
}

void format_timestamp(std::time_t clock_reading, char (&timestamp)[TIMESTAMP_SIZE])
{
    // Spelled out rather than taken from strftime: the names must be English
    // whatever the locale, and msvcrt's strftime has no %e for the blank-padded day.
    static const char WEEKDAYS[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char MONTHS[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    bool known = clock_reading != static_cast<std::time_t>(-1) && platform_local_time(clock_reading, local) &&
                 local.tm_wday >= 0 && local.tm_wday < 7 && local.tm_mon >= 0 && local.tm_mon < 12 &&
                 local.tm_year >= 1000 - 1900 && local.tm_year <= 9999 - 1900;
    if (known) {
        int written = std::snprintf(timestamp, sizeof timestamp, "%s %s %2d %02d:%02d:%02d %d", WEEKDAYS[local.tm_wday],
                                    MONTHS[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                                    local.tm_year + 1900);
        known = written == TIMESTAMP_SIZE - 2;
    }
    if (!known)
        std::snprintf(timestamp, sizeof timestamp, "%s", UNKNOWN_TIME);
}

int write_report(std::FILE *out, status_colour colour, const char *timestamp, const scan_result &scan)
{
    errno = 0;
    std::fprintf(out, "%s %s [%s]\n\n", colour_text(colour), timestamp, "");
    std::fprintf(out, "%s\n", scan.captured);
    std::fprintf(out, "\n%" PRId64 " users active\n", scan.match_count);
    if (std::fflush(out) != 0 || std::ferror(out))
        return errno ? errno : EIO;
    return 0;
}

void report_failure(const char *what, int error)
{
    std::fprintf(stderr, "active-users: %s: %s\n", what, std::strerror(error));
}
