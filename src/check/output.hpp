// What the check prints: the plugin line with its performance data, the
// bare count, or Prometheus text; and its help.
#pragma once

#include <cstdint>
#include <cstdio>

#include "check/census.hpp"
#include "check/options.hpp"

enum class check_state { ok, warning, critical, unknown };

inline constexpr size_t DETAIL_SIZE = 512;
// Room for the whole output of any form: the plugin line and a line for
// each session -v names.
inline constexpr size_t OUTPUT_SIZE = 1024 + (NAMED_LIMIT + 1) * 3 * NAME_SIZE;

struct check_outcome {
    check_state state;
    int64_t active;
    bool has_inactive;  // the system's sessions give the second figure; a command's listing does not
    int64_t inactive;
    char detail[DETAIL_SIZE];      // UNKNOWN's reason, or a listing's warning; already made safe to echo
    const session_census *census;  // the sessions -v names, or nullptr
};

// CRITICAL before WARNING; OK when neither range alerts.
check_state judge_count(const check_options &options, int64_t count);

// The outcome in the options' form, whole, into `out`, and what goes to
// standard error into `err`: the reason, in the forms that keep standard
// output for values. Returns the exit status, 0 to 3.
int render_outcome(const check_options &options, const check_outcome &outcome, text_buffer &out, text_buffer &err);

void write_help(std::FILE *out);
