// The check's output forms. The plugin line follows the plugin guidelines:
// "ACTIVE USERS STATE - TEXT | PERFDATA", one line, the ranges echoed as
// given (they were checked); -v adds a line per active session after it.
#include "check/output.hpp"

#include <algorithm>
#include <initializer_list>

#include "check/text.hpp"

namespace {

const char *const STATE_NAMES[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// Each figure's words in the line, around its number; its label in the
// performance data; its Prometheus gauge and the gauge's help.
struct figure_words {
    const char *before, *after, *label, *gauge, *help;
};

constexpr figure_words FIGURES[FIGURE_COUNT] = {
    {"", " users active", "users", "active_users", "Sessions counted as active."},
    {", ", " inactive", "inactive", "active_users_inactive", "Sessions logged on but not active."},
    {", ", " idle", "idle", "active_users_idle", "Active sessions idle longer than --idle."},
    {", ", " stale", "stale", "active_users_stale", "Sessions logged on but not active for longer than --stale."},
    {", at most ", " sessions a user", "most_per_user", "active_users_most_per_user",
     "The most sessions one user holds."},
};

// "label=value;warning;critical;0"
void perfdata(text_buffer &line, const char *label, int64_t value, const figure_ranges *ranges)
{
    append(line, " ");
    append(line, label);
    append(line, "=");
    append_number(line, value);
    for (const threshold_range *range : {&ranges->warning, &ranges->critical}) {
        append(line, ";");
        if (range->given)
            append(line, range->text);
    }
    append(line, ";0");
}

// "3 users active in 4 sessions, 1 inactive, 2 idle, at most 3 sessions a
// user (over the limit: alice 3)"
void plugin_text(text_buffer &line, const check_outcome &outcome)
{
    for (int figure = 0; figure < FIGURE_COUNT; figure++) {
        if (!outcome.shown[figure])
            continue;
        append(line, FIGURES[figure].before);
        append_number(line, outcome.figures[figure]);
        append(line, FIGURES[figure].after);
        if (figure == FIGURE_USERS && outcome.shows_sessions) {
            append(line, " in ");
            append_number(line, outcome.sessions);
            append(line, " sessions");
        }
    }
    if (outcome.over_limit[0]) {
        append(line, " (over the limit: ");
        append(line, outcome.over_limit);
        if (outcome.named_over > static_cast<int64_t>(OVER_LIMIT_NAMED)) {
            append(line, ", and ");
            append_number(line, outcome.named_over - static_cast<int64_t>(OVER_LIMIT_NAMED));
            append(line, " more");
        }
        append(line, ")");
    }
}

void plugin_line(text_buffer &line, const check_options &options, const check_outcome &outcome)
{
    append(line, "ACTIVE USERS ");
    append(line, STATE_NAMES[static_cast<int>(outcome.state)]);
    append(line, " - ");
    if (outcome.state == check_state::unknown) {
        append(line, outcome.detail);
        return;
    }
    plugin_text(line, outcome);
    if (outcome.detail[0]) {
        append(line, " (");
        append(line, outcome.detail);
        append(line, ")");
    }
    append(line, " |");
    static const figure_ranges NONE = {};
    for (int figure = 0; figure < FIGURE_COUNT; figure++) {
        if (!outcome.shown[figure])
            continue;
        perfdata(line, FIGURES[figure].label, outcome.figures[figure], &options.ranges[figure]);
        if (figure == FIGURE_USERS && outcome.shows_sessions)
            perfdata(line, "sessions", outcome.sessions, &NONE);
    }
}

void gauge(text_buffer &out, const char *name, const char *help, int64_t value)
{
    const char *parts[] = {"# HELP ", name, " ", help, "\n# TYPE ", name, " gauge\n", name, " "};
    for (const char *part : parts)
        append(out, part);
    append_number(out, value);
    append(out, "\n");
}

// The line, then with -v a line for each session shown and one for those
// left out.
void plugin_lines(text_buffer &out, const check_options &options, const check_outcome &outcome)
{
    char text[1536];
    text_buffer line = {text, sizeof text, 0};
    plugin_line(line, options, outcome);
    append(out, text);
    append(out, "\n");
    const session_census *census = outcome.census;
    if (outcome.state == check_state::unknown || !options.verbose || !census)
        return;
    for (size_t i = 0; i < census->named; i++) {
        append(out, census->names[i]);
        append(out, "\n");
    }
    if (census->shown > static_cast<int64_t>(census->named)) {
        append(out, "and ");
        append_number(out, census->shown - static_cast<int64_t>(census->named));
        append(out, " more sessions\n");
    }
}

void prometheus_text(text_buffer &out, const check_options &options, const check_outcome &outcome)
{
    // The reason as a comment: the exposition format's readers pass over it,
    // and a textfile or a Zabbix item shows why there is no count.
    if (outcome.state == check_state::unknown) {
        append(out, "# check_active_users: ");
        append(out, outcome.detail);
        append(out, "\n");
    }
    for (int figure = 0; figure < FIGURE_COUNT && outcome.state != check_state::unknown; figure++) {
        if (!outcome.shown[figure])
            continue;
        const bool users = figure == FIGURE_USERS && options.unit == count_unit::users;
        gauge(out, FIGURES[figure].gauge, users ? "Users with an active session." : FIGURES[figure].help,
              outcome.figures[figure]);
        if (figure == FIGURE_USERS && outcome.shows_sessions)
            gauge(out, "active_users_sessions", "Sessions counted as active.", outcome.sessions);
    }
    gauge(out, "active_users_check_status", "The check's status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.",
          static_cast<int>(outcome.state));
}

void write_help_rules(std::FILE *out)
{
    std::fputs("\n"
               "RANGE is N (alert above N), N: (below N), ~:N (above N), N:M (outside N to M) or\n"
               "@N:M (inside N to M), N and M whole numbers of up to 9 digits. Give a range; an empty\n"
               "RANGE is none given.\n"
               "\n"
               "Without a COMMAND the sessions are the system's own: logind's where it runs, else utmp's,\n"
               "on Linux; the Terminal Services API's on Windows. Active: a user's session in use (logind:\n"
               "a user class in state active; utmp: a login with a user name whose process is not known to\n"
               "be gone, as who counts them; Windows: an active session with a user, never session 0).\n"
               "Logged on but not in use (online, disconnected): inactive. Idle: no input on the terminal\n"
               "(Linux) or the session (Windows); a session without a terminal is never idle. A source that\n"
               "cannot be read whole is never a smaller count: UNKNOWN, with the reason. A COMMAND runs\n"
               "directly, with no shell; one that is missing, fails, is killed, times out or writes only to\n"
               "standard error gives UNKNOWN.\n"
               "\n"
               "Exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.\n"
               "\n"
               "Examples:\n"
               "  check_active_users -w 60 -c 65\n"
               "  check_active_users -c 1:                  (CRITICAL when nobody is logged on)\n"
               "  check_active_users --idle=60 -w 40        (idle an hour: not counted as active)\n"
               "  check_active_users --stale=24 --stale-warning=0   (disconnected over a day)\n"
               "  check_active_users --per-user-critical=2 --exclude='svc-*'\n"
               "  check_active_users -f count               (for a Zabbix item)\n"
               "  check_active_users -w 40 -c 50 -p ' active' -- loginctl list-sessions --no-legend\n",
               out);
}

}  // namespace

check_state judge_outcome(const check_options &options, const check_outcome &outcome)
{
    check_state state = check_state::ok;
    for (int figure = 0; figure < FIGURE_COUNT; figure++) {
        const figure_ranges &ranges = options.ranges[figure];
        const bool per_user = figure == FIGURE_PER_USER;
        if (!outcome.shown[figure])
            continue;
        if (per_user ? outcome.users_over[1] > 0 : range_alerts(ranges.critical, outcome.figures[figure]))
            return check_state::critical;
        if (per_user ? outcome.users_over[0] > 0 : range_alerts(ranges.warning, outcome.figures[figure]))
            state = check_state::warning;
    }
    return state;
}

int render_outcome(const check_options &options, const check_outcome &outcome, text_buffer &out, text_buffer &err)
{
    const bool seen = outcome.state != check_state::unknown;
    switch (options.form) {
    case output_form::plugin:
        plugin_lines(out, options, outcome);
        break;
    case output_form::count:
        // Nothing at all when unseen: a numeric item then goes unsupported, never 0.
        if (seen) {
            append_number(out, outcome.figures[FIGURE_USERS]);
            append(out, "\n");
        }
        break;
    case output_form::prometheus:
        prometheus_text(out, options, outcome);
        break;
    }
    if (!seen && options.form != output_form::plugin) {
        append(err, "check_active_users: ");
        append(err, outcome.detail);
        append(err, "\n");
    }
    return static_cast<int>(outcome.state);
}

void write_help(std::FILE *out)
{
    std::fprintf(out,
                 "check_active_users %s: counts the users active on this host and checks the count against ranges.\n\n"
                 "Usage: %s\n       check_active_users -h | --help | -V | --version\n\n",
                 ACTIVE_USERS_VERSION, USAGE);
    std::fputs("  -w, --warning RANGE    WARNING when the count is outside RANGE\n"
               "  -c, --critical RANGE   CRITICAL when the count is outside RANGE\n"
               "  -t, --timeout SECONDS  UNKNOWN when the sessions or a listing command take longer (1 to 9999,\n"
               "                         default 10)\n"
               "  -f, --format FORM      plugin (one line with performance data, the default), count (the\n"
               "                         count alone; nothing when UNKNOWN) or prometheus (text exposition)\n"
               "  -v, --verbose          after the line, one line per session: user, terminal or station,\n"
               "                         client, state, idle time, logon time; the first 32, then how many more\n"
               "  -p, --pattern TEXT     count only the command's lines that hold TEXT (default: every line)\n"
               "\n"
               "Session options, for the system's own sessions:\n"
               "      --count UNIT       what -w and -c judge: sessions (the default) or users\n"
               "      --idle MINUTES     a session in use with no input for longer is idle: its own figure\n"
               "      --stale HOURS      one logged on but not in use (disconnected) for longer is stale\n"
               "      --include USER     count only these users (repeatable; *, ? and [...]; DOMAIN\\USER or USER)\n"
               "      --exclude USER     leave these users out (repeatable, as --include)\n"
               "      --remote           count only sessions used from another host\n"
               "      --local            count only sessions used on this host\n"
               "      --inactive-warning RANGE, --inactive-critical RANGE\n"
               "      --idle-warning RANGE, --idle-critical RANGE\n"
               "      --stale-warning RANGE, --stale-critical RANGE\n"
               "                         ranges on those figures\n"
               "      --per-user-warning RANGE, --per-user-critical RANGE\n"
               "                         a range on the sessions each user holds; the users over it are named\n",
               out);
    write_help_rules(out);
}
