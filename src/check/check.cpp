// One check from its command line to its exit status; whatever it could not
// see whole is UNKNOWN, never a count.
#include "check/check.hpp"

#include <cstdio>

#include "check/census.hpp"
#include "check/listing.hpp"
#include "check/output.hpp"
#include "platform/system.hpp"

namespace {

// The system's sessions, or false with the reason in `note`.
bool count_sessions(session_census &census, text_buffer &note)
{
    char why[DETAIL_SIZE];
    const session_source source = platform_read_sessions(tally_session, &census, why, sizeof why);
    census.source = source;
    if (source == session_source::none) {
        append_echo(note, why, DETAIL_SIZE - 1);
        return false;
    }
    // Every working Windows lists its services session: a list without it
    // comes from an API that is broken or a stand-in, and proves nothing.
    if (source == session_source::terminal_services && !census.saw_services_session) {
        append(note, "the Terminal Services API listed no services session, so its list cannot be trusted");
        return false;
    }
    return true;
}

}  // namespace

int run_check(int argc, char **argv)
{
    static check_command_line line;
    static check_options options;
    static check_outcome outcome;
    static session_census census;
    text_buffer note = {outcome.detail, sizeof outcome.detail, 0};
    if (!platform_check_command_line(argc, argv, line)) {
        append(note, "cannot read the command line, or it has more than 256 arguments");
        options.form = output_form::plugin;
        outcome.state = check_state::unknown;
    } else {
        parse_check_options(line.count, line.arguments, options);
        switch (options.action) {
        case check_action::help:
            write_help(stdout);
            return std::fflush(stdout) == 0 ? 0 : 3;
        case check_action::version:
            std::printf("check_active_users %s\n", ACTIVE_USERS_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 3;
        case check_action::refuse:
            append(note, options.refusal);
            outcome.state = check_state::unknown;
            break;
        case check_action::check:
            const bool seen =
                options.command ? count_listing(options, outcome.active, note) : count_sessions(census, note);
            // utmp knows logins, not whether they are in use: no second figure.
            outcome.has_inactive = !options.command && census.source != session_source::utmp;
            if (!options.command)
                outcome.active = census.active;
            outcome.inactive = census.inactive;
            outcome.census = &census;
            outcome.state = seen ? judge_count(options, outcome.active) : check_state::unknown;
        }
    }
    // The count and Prometheus forms keep standard output for values; the
    // reason goes to standard error.
    if (outcome.state == check_state::unknown && options.form != output_form::plugin)
        std::fprintf(stderr, "check_active_users: %s\n", outcome.detail);
    int status = write_outcome(stdout, options, outcome);
    if (std::fflush(stdout) != 0)
        status = 3;
    return status;
}
