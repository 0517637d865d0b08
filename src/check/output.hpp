// What the check prints: the plugin line with its performance data, the
// bare count, or Prometheus text; and its help.
#pragma once

#include <cstdint>
#include <cstdio>

#include "check/census.hpp"
#include "check/options.hpp"

enum class check_state { ok, warning, critical, unknown };

inline constexpr size_t DETAIL_SIZE = 512;
// Room for the whole output of any form: the plugin line and -v's lines.
inline constexpr size_t OUTPUT_SIZE = 1536 + (NAMED_LIMIT + 1) * LINE_SIZE;
// How many users over a per-user limit the line names.
inline constexpr size_t OVER_LIMIT_NAMED = 5;

struct check_outcome {
    check_state state;
    int64_t figures[FIGURE_COUNT];  // users (as --count asks), inactive, idle, stale, the most per user
    bool shown[FIGURE_COUNT];       // the figures the outcome holds
    int64_t sessions;               // with --count=users: the active sessions those users hold
    bool shows_sessions;
    int64_t users_over[2];         // the users the per-user warning and critical ranges alert on
    int64_t named_over;            // those of the worst range that alerts
    char over_limit[DETAIL_SIZE];  // the first of them, "alice 4, bob 3"
    char detail[DETAIL_SIZE];      // UNKNOWN's reason, or a note; already made safe to echo
    const session_census *census;  // the sessions -v shows, or nullptr
};

// The worst of the shown figures against their ranges, CRITICAL before
// WARNING; OK when none alerts.
check_state judge_outcome(const check_options &options, const check_outcome &outcome);

// The outcome in the options' form, whole, into `out`, and what goes to
// standard error into `err`: the reason, in the forms that keep standard
// output for values. Returns the exit status, 0 to 3.
int render_outcome(const check_options &options, const check_outcome &outcome, text_buffer &out, text_buffer &err);

void write_help(std::FILE *out);
