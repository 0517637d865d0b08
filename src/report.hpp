// The status colour, the timestamp and the three blocks of the report, plus
// the one helper that writes a diagnostic to standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>

#include "scan/scan.hpp"

enum class status_colour { green, yellow, red };

// ctime's 24 characters, its newline and the NUL.
inline constexpr int TIMESTAMP_SIZE = 26;
inline constexpr const char *UNKNOWN_TIME = "unknown time";

const char *colour_text(status_colour colour);

// Red is tested first, so a red limit below the yellow limit never gives yellow.
status_colour classify_count(int64_t match_count, int32_t yellow_limit, int32_t red_limit);

// The local time in ctime's form without its newline ("Tue Dec  8 18:52:14 2026"),
// or UNKNOWN_TIME when the clock reading is (time_t)-1 or does not fit that form.
void format_timestamp(std::time_t clock_reading, char (&timestamp)[TIMESTAMP_SIZE]);

// Writes the report, flushes, and returns 0 or the errno of the failed write.
int write_report(std::FILE *out, status_colour colour, const char *timestamp, const scan_result &scan);

// "active-users: WHAT: REASON" on standard error.
void report_failure(const char *what, int error);
