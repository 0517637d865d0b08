// The check's command line: one parser, built on every system, that checks
// each value once and says what it refuses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check/ranges.hpp"

inline constexpr int DEFAULT_TIMEOUT = 10;
inline constexpr int TIMEOUT_DIGITS = 4;  // 1 to 9999 seconds
inline constexpr int IDLE_DIGITS = 6;     // minutes: under two years
inline constexpr int STALE_DIGITS = 5;    // hours: over eleven years
inline constexpr size_t REFUSAL_SIZE = 512;
inline constexpr size_t FILTER_LIMIT = 32;  // --include and --exclude patterns, each
// No '|': it would start the plugin line's performance data.
inline constexpr const char *USAGE = "check_active_users [-w RANGE] [-c RANGE] [-t SECONDS] [-f FORM] [-v] "
                                     "[SESSION OPTIONS] [-p PATTERN -- COMMAND ARGS...]";

enum class check_action { check, help, version, refuse };

// plugin: the one line with performance data; count: the bare count, for
// Zabbix; prometheus: the text exposition format, for textfile collectors.
enum class output_form { plugin, count, prometheus };

// What -w and -c judge, and the users figure holds.
enum class count_unit { sessions, users };

// The figures that may carry ranges: users (-w, -c), inactive, idle, stale,
// and the sessions of each user.
enum figure_name { FIGURE_USERS, FIGURE_INACTIVE, FIGURE_IDLE, FIGURE_STALE, FIGURE_PER_USER, FIGURE_COUNT };

struct figure_ranges {
    threshold_range warning, critical;
};

inline bool any_range(const figure_ranges &ranges)
{
    return ranges.warning.given || ranges.critical.given;
}

enum class place_filter { any, remote, local };

struct name_filter {
    size_t count;
    const char *patterns[FILTER_LIMIT];  // shell-style wildcards
};

struct check_options {
    check_action action;
    figure_ranges ranges[FIGURE_COUNT];
    const char *pattern;  // what a command's counted lines hold; nullptr: every line
    int timeout_seconds;
    bool verbose;
    output_form form;
    count_unit unit;
    int64_t idle_minutes;  // beyond this a session in use is idle; -1: not asked
    int64_t stale_hours;   // beyond this one logged on but not in use is stale; -1: not asked
    name_filter include, exclude;
    place_filter place;
    const char *const *command;  // the listing command after --, NULL-terminated; nullptr: the system's sessions
    char refusal[REFUSAL_SIZE];  // why, for check_action::refuse, its values echoed safely
};

// `arguments` holds `count` entries and a final nullptr; entry 0 is the
// program's name. The first refusal found is the one given.
void parse_check_options(int count, const char *const *arguments, check_options &options);
