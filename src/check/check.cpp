// One check from its command line to its exit status; whatever it could not
// see whole is UNKNOWN, never a count.
#include "check/check.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "check/census.hpp"
#include "check/listing.hpp"
#include "check/output.hpp"
#include "check/system/system.hpp"

namespace {

const char *source_name(session_source source)
{
    switch (source) {
    case session_source::logind:
        return "logind";
    case session_source::utmp:
        return "utmp";
    case session_source::terminal_services:
        return "Terminal Services";
    case session_source::none:
        break;
    }
    return "no source";
}

// "one, and two": each reason after the ones before. Never a semicolon:
// Nagios makes it a colon in the line it keeps.
void add_reason(text_buffer &list, const char *reason)
{
    if (list.used)
        append(list, ", and ");
    append(list, reason);
}

// The system's sources in turn: the first that answers whole gives the
// census, and `note` names those that failed before it. False when none
// answers, with why in `note`: the sources that failed, or else that the
// system keeps none.
bool count_sessions(session_census &census, const census_rules &rules, session_source &answered, int64_t deadline_ms,
                    text_buffer &note)
{
    static char failures[DETAIL_SIZE], absences[DETAIL_SIZE];
    text_buffer failed = {failures, sizeof failures, 0}, absent = {absences, sizeof absences, 0};
    const bool times = rules.idle_seconds >= 0 || rules.stale_seconds >= 0 || rules.verbose;
    for (const session_source *source = platform_session_sources(); *source != session_source::none; source++) {
        start_census(census, rules);
        char why[DETAIL_SIZE] = "";
        text_buffer reason = {why, sizeof why, 0};
        const source_answer answer =
            platform_read_sessions(*source, deadline_ms, times, tally_session, &census, reason);
        if (answer == source_answer::whole && census_whole(*source, census, reason)) {
            answered = *source;
            if (failed.used) {
                append(note, "from ");
                append(note, source_name(*source));
                append(note, ", as ");
                append(note, failures);
            }
            return true;
        }
        add_reason(answer == source_answer::absent ? absent : failed, why);
    }
    start_census(census, rules);
    if (!failed.used)
        append(note, "no session source: ");
    append(note, failed.used ? failures : absences);
    return false;
}

// What the options ask that this source and census cannot say; why in `note`.
bool beyond_the_source(const check_options &options, session_source source, const session_census &census,
                       text_buffer &note)
{
    const figure_ranges &inactive = options.ranges[FIGURE_INACTIVE], &per_user = options.ranges[FIGURE_PER_USER];
    if (source == session_source::utmp && (options.stale_hours >= 0 || any_range(inactive))) {
        append(note, "utmp does not tell sessions in use from those logged on but not: --stale and the "
                     "inactive ranges need logind");
        return true;
    }
    if (census.too_many_users && (options.unit == count_unit::users || any_range(per_user))) {
        append(note, "more than 3072 users: the users cannot be told apart");
        return true;
    }
    return false;
}

// The users over the per-user ranges: how many for each, and the first of
// the worst range's.
void judge_users(const check_options &options, const session_census &census, check_outcome &outcome)
{
    const figure_ranges &ranges = options.ranges[FIGURE_PER_USER];
    const threshold_range *each[2] = {&ranges.warning, &ranges.critical};
    if (!any_range(ranges))
        return;
    for (int i = 1; i >= 0; i--) {
        char names[DETAIL_SIZE] = "";
        text_buffer list = {names, sizeof names, 0};
        outcome.users_over[i] = users_alerting(census, *each[i], OVER_LIMIT_NAMED, list);
        if (!outcome.over_limit[0]) {
            std::memcpy(outcome.over_limit, names, sizeof names);
            outcome.named_over = outcome.users_over[i];
        }
    }
}

void check_sessions(const check_options &options, check_outcome &outcome, text_buffer &note)
{
    static session_census census;
    const census_rules rules = {options.idle_minutes < 0 ? -1 : options.idle_minutes * 60,
                                options.stale_hours < 0 ? -1 : options.stale_hours * 3600,
                                &options.include,
                                &options.exclude,
                                options.place,
                                options.verbose};
    session_source source = session_source::none;
    const int64_t deadline_ms = platform_now_ms() + int64_t{options.timeout_seconds} * 1000;
    if (!count_sessions(census, rules, source, deadline_ms, note) || beyond_the_source(options, source, census, note))
        return;
    const bool users = options.unit == count_unit::users;
    const int64_t figures[FIGURE_COUNT] = {users ? census.users : census.active, census.inactive, census.idle,
                                           census.stale, census.most_per_user};
    // utmp knows logins, not whether they are in use: no inactive figures.
    const bool inactive = source != session_source::utmp;
    const bool shown[FIGURE_COUNT] = {true, inactive, options.idle_minutes >= 0, inactive && options.stale_hours >= 0,
                                      any_range(options.ranges[FIGURE_PER_USER])};
    std::copy(figures, figures + FIGURE_COUNT, outcome.figures);
    std::copy(shown, shown + FIGURE_COUNT, outcome.shown);
    outcome.sessions = census.active;
    outcome.shows_sessions = users;
    outcome.census = &census;
    judge_users(options, census, outcome);
    outcome.state = judge_outcome(options, outcome);
}

// What the check writes if an engine ends it: UNKNOWN in the options' form.
void prepare_ending(const check_options &options)
{
    static check_outcome ended;
    static char out_text[OUTPUT_SIZE], err_text[DETAIL_SIZE + 32];
    text_buffer out = {out_text, sizeof out_text, 0}, err = {err_text, sizeof err_text, 0};
    text_buffer detail = {ended.detail, sizeof ended.detail, 0};
    ended.state = check_state::unknown;
    append(detail, "ended by a signal");
    render_outcome(options, ended, out, err);
    platform_set_ending_output(out_text, err_text);
}

// Writes the outcome whole; a failed write makes it UNKNOWN.
int write_outcome(const check_options &options, const check_outcome &outcome)
{
    platform_hold_signals();
    static char out_text[OUTPUT_SIZE], err_text[DETAIL_SIZE + 32];
    text_buffer out = {out_text, sizeof out_text, 0}, err = {err_text, sizeof err_text, 0};
    int status = render_outcome(options, outcome, out, err);
    std::fputs(err_text, stderr);
    if (std::fwrite(out_text, 1, out.used, stdout) != out.used || std::fflush(stdout) != 0)
        status = 3;
    return status;
}

int finish_text()
{
    return std::fflush(stdout) == 0 ? 0 : 3;
}

}  // namespace

int run_check(int argc, char **argv)
{
    platform_start_check();
    static check_command_line line;
    static check_options options;
    static check_outcome outcome;
    text_buffer note = {outcome.detail, sizeof outcome.detail, 0};
    outcome.state = check_state::unknown;
    if (!platform_check_command_line(argc, argv, line)) {
        append(note, "cannot read the command line, or it has more than 256 arguments");
        return write_outcome(options, outcome);
    }
    parse_check_options(line.count, line.arguments, options);
    prepare_ending(options);
    switch (options.action) {
    case check_action::help:
        write_help(stdout);
        return finish_text();
    case check_action::version:
        std::fputs("check_active_users " ACTIVE_USERS_VERSION "\n", stdout);
        return finish_text();
    case check_action::refuse:
        append(note, options.refusal);
        break;
    case check_action::check:
        if (!options.command) {
            check_sessions(options, outcome, note);
            break;
        }
        outcome.shown[FIGURE_USERS] = true;
        const bool seen = count_listing(options, outcome.figures[FIGURE_USERS], note);
        outcome.state = seen ? judge_outcome(options, outcome) : check_state::unknown;
    }
    return write_outcome(options, outcome);
}
