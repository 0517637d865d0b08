// One check from its command line to its exit status; whatever it could not
// see whole is UNKNOWN, never a count.
#include "check/check.hpp"

#include <cstdio>

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
bool count_sessions(session_census &census, session_source &answered, int64_t deadline_ms, text_buffer &note)
{
    static char failures[DETAIL_SIZE], absences[DETAIL_SIZE];
    text_buffer failed = {failures, sizeof failures, 0}, absent = {absences, sizeof absences, 0};
    for (const session_source *source = platform_session_sources(); *source != session_source::none; source++) {
        census = {};
        char why[DETAIL_SIZE] = "";
        text_buffer reason = {why, sizeof why, 0};
        const source_answer answer = platform_read_sessions(*source, deadline_ms, tally_session, &census, reason);
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
    census = {};
    if (!failed.used)
        append(note, "no session source: ");
    append(note, failed.used ? failures : absences);
    return false;
}

void check_sessions(const check_options &options, check_outcome &outcome, text_buffer &note)
{
    static session_census census;
    session_source source = session_source::none;
    const int64_t deadline_ms = platform_now_ms() + int64_t{options.timeout_seconds} * 1000;
    const bool seen = count_sessions(census, source, deadline_ms, note);
    // utmp knows logins, not whether they are in use: no second figure.
    outcome.has_inactive = source != session_source::utmp;
    outcome.active = census.active;
    outcome.inactive = census.inactive;
    outcome.census = &census;
    outcome.state = seen ? judge_count(options, outcome.active) : check_state::unknown;
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
        const bool seen = count_listing(options, outcome.active, note);
        outcome.state = seen ? judge_count(options, outcome.active) : check_state::unknown;
    }
    return write_outcome(options, outcome);
}
