// The check's command line: one parser, built on every system, that checks
// each value once and says what it refuses.
#pragma once

#include <cstddef>

#include "check/ranges.hpp"

inline constexpr int DEFAULT_TIMEOUT = 10;
inline constexpr int TIMEOUT_DIGITS = 4;  // 1 to 9999 seconds
inline constexpr size_t REFUSAL_SIZE = 512;
inline constexpr const char *USAGE = "check_active_users [-w RANGE] [-c RANGE] [-t SECONDS] [-f FORM] [-v] "
                                     "[-p PATTERN -- COMMAND ARGS...]";

enum class check_action { check, help, version, refuse };

// plugin: the one line with performance data; count: the bare count, for
// Zabbix; prometheus: the text exposition format, for textfile collectors.
enum class output_form { plugin, count, prometheus };

struct check_options {
    check_action action;
    threshold_range warning, critical;
    const char *pattern;  // what a command's counted lines hold; nullptr: every line
    int timeout_seconds;
    bool verbose;
    output_form form;
    const char *const *command;  // the listing command after --, NULL-terminated; nullptr: the system's sessions
    char refusal[REFUSAL_SIZE];  // why, for check_action::refuse, its values echoed safely
};

// `arguments` holds `count` entries and a final nullptr; entry 0 is the
// program's name. The first refusal found is the one given.
void parse_check_options(int count, const char *const *arguments, check_options &options);
