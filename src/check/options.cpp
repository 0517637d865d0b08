// Reads the check's options as the plugin guidelines name them, short and
// long, values attached (-w5, --warning=5) or apart, refusing what it cannot
// read rather than guessing.
#include "check/options.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "check/text.hpp"

namespace {

enum class option_id {
    warning,
    critical,
    pattern,
    timeout,
    format,
    verbose,
    help,
    version,
    count,
    idle,
    stale,
    include,
    exclude,
    remote,
    local,
    idle_warning,
    idle_critical,
    stale_warning,
    stale_critical,
    inactive_warning,
    inactive_critical,
    per_user_warning,
    per_user_critical,
};

struct option_name {
    const char *name;
    char letter;  // '\0': long only
    bool takes_value;
    option_id id;
};

constexpr option_name OPTIONS[] = {
    {"warning", 'w', true, option_id::warning},
    {"critical", 'c', true, option_id::critical},
    {"pattern", 'p', true, option_id::pattern},
    {"timeout", 't', true, option_id::timeout},
    {"format", 'f', true, option_id::format},
    {"verbose", 'v', false, option_id::verbose},
    {"help", 'h', false, option_id::help},
    {"version", 'V', false, option_id::version},
    {"count", '\0', true, option_id::count},
    {"idle", '\0', true, option_id::idle},
    {"stale", '\0', true, option_id::stale},
    {"include", '\0', true, option_id::include},
    {"exclude", '\0', true, option_id::exclude},
    {"remote", '\0', false, option_id::remote},
    {"local", '\0', false, option_id::local},
    {"idle-warning", '\0', true, option_id::idle_warning},
    {"idle-critical", '\0', true, option_id::idle_critical},
    {"stale-warning", '\0', true, option_id::stale_warning},
    {"stale-critical", '\0', true, option_id::stale_critical},
    {"inactive-warning", '\0', true, option_id::inactive_warning},
    {"inactive-critical", '\0', true, option_id::inactive_critical},
    {"per-user-warning", '\0', true, option_id::per_user_warning},
    {"per-user-critical", '\0', true, option_id::per_user_critical},
};

// Each range option's figure, whether it is the warning one, and its name in a refusal.
struct range_option {
    option_id id;
    figure_name figure;
    bool warning;
    const char *name;
};

constexpr range_option RANGE_OPTIONS[] = {
    {option_id::warning, FIGURE_USERS, true, "the warning range"},
    {option_id::critical, FIGURE_USERS, false, "the critical range"},
    {option_id::inactive_warning, FIGURE_INACTIVE, true, "the inactive warning range"},
    {option_id::inactive_critical, FIGURE_INACTIVE, false, "the inactive critical range"},
    {option_id::idle_warning, FIGURE_IDLE, true, "the idle warning range"},
    {option_id::idle_critical, FIGURE_IDLE, false, "the idle critical range"},
    {option_id::stale_warning, FIGURE_STALE, true, "the stale warning range"},
    {option_id::stale_critical, FIGURE_STALE, false, "the stale critical range"},
    {option_id::per_user_warning, FIGURE_PER_USER, true, "the per-user warning range"},
    {option_id::per_user_critical, FIGURE_PER_USER, false, "the per-user critical range"},
};

// Refuses with WHAT, then `value` quoted when given, then the usage when asked.
void refuse(check_options &options, const char *what, const char *value = nullptr, bool usage = false)
{
    if (options.action == check_action::refuse)
        return;
    options.action = check_action::refuse;
    text_buffer out = {options.refusal, sizeof options.refusal, 0};
    append(out, what);
    if (value) {
        append(out, ": '");
        append_echo(out, value);
        append(out, "'");
    }
    if (usage) {
        append(out, "; usage: ");
        append(out, USAGE);
    }
}

// The option `argument` names, and where its attached value starts (or nullptr).
const option_name *find_option(const char *argument, const char *&attached)
{
    attached = nullptr;
    for (const option_name &option : OPTIONS) {
        if (option.letter && argument[0] == '-' && argument[1] == option.letter) {
            if (argument[2] == '\0' || option.takes_value) {
                attached = argument[2] ? argument + 2 : nullptr;
                return &option;
            }
        }
        const size_t length = std::strlen(option.name);
        if (std::strncmp(argument, "--", 2) == 0 && std::strncmp(argument + 2, option.name, length) == 0) {
            const char after = argument[2 + length];
            if (after == '\0' || (after == '=' && option.takes_value)) {
                attached = after ? argument + 3 + length : nullptr;
                return &option;
            }
        }
    }
    return nullptr;
}

void take_range(check_options &options, threshold_range &range, const char *name, const char *text)
{
    // What an engine sends for a threshold left blank: none given.
    if (*text == '\0') {
        range = {};
        return;
    }
    const range_fault fault = parse_range(text, range);
    if (fault == range_fault::none)
        return;
    char what[128];
    std::snprintf(what, sizeof what, "%s %s", name,
                  fault == range_fault::reversed ? "has its start above its end"
                                                 : "must be N, N:, ~:N, N:M or @N:M with whole numbers N and M");
    refuse(options, what, text);
}

// A whole number of at most `digits` digits, at least `least`; else refused with `rule`.
void take_number(check_options &options, const char *text, int digits, int64_t least, int64_t &into, const char *rule)
{
    const char *at = text;
    int64_t value = 0;
    if (!read_digits(at, digits, value) || *at != '\0' || value < least)
        return refuse(options, rule, text);
    into = value;
}

// One of `names` (a NULL-terminated list); its index, or -1 refused with `rule`.
int take_word(check_options &options, const char *text, const char *const *names, const char *rule)
{
    for (int i = 0; names[i]; i++) {
        if (std::strcmp(text, names[i]) == 0)
            return i;
    }
    refuse(options, rule, text);
    return -1;
}

void take_pattern(check_options &options, name_filter &filter, const char *text)
{
    if (filter.count == FILTER_LIMIT)
        return refuse(options, "at most 32 --include and 32 --exclude patterns", text);
    filter.patterns[filter.count++] = text;
}

void take_value(check_options &options, option_id id, const char *value)
{
    static const char *const FORMS[] = {"plugin", "count", "prometheus", nullptr};
    static const char *const UNITS[] = {"sessions", "users", nullptr};
    const range_option *range = std::find_if(std::begin(RANGE_OPTIONS), std::end(RANGE_OPTIONS),
                                             [id](const range_option &r) { return r.id == id; });
    if (range != std::end(RANGE_OPTIONS)) {
        figure_ranges &ranges = options.ranges[range->figure];
        return take_range(options, range->warning ? ranges.warning : ranges.critical, range->name, value);
    }
    int64_t seconds = options.timeout_seconds;
    int word = 0;
    switch (id) {
    case option_id::timeout:
        take_number(options, value, TIMEOUT_DIGITS, 1, seconds, "the timeout must be 1 to 9999 seconds");
        options.timeout_seconds = static_cast<int>(seconds);
        break;
    case option_id::format:
        word = take_word(options, value, FORMS, "the format must be plugin, count or prometheus");
        options.form = word < 0 ? options.form : static_cast<output_form>(word);
        break;
    case option_id::count:
        word = take_word(options, value, UNITS, "--count must be sessions or users");
        options.unit = word < 0 ? options.unit : static_cast<count_unit>(word);
        break;
    case option_id::idle:
        return take_number(options, value, IDLE_DIGITS, 0, options.idle_minutes, "--idle must be 0 to 999999 minutes");
    case option_id::stale:
        return take_number(options, value, STALE_DIGITS, 0, options.stale_hours, "--stale must be 0 to 99999 hours");
    case option_id::include:
        return take_pattern(options, options.include, value);
    case option_id::exclude:
        return take_pattern(options, options.exclude, value);
    default:
        options.pattern = value;
    }
}

// The threshold, pattern and session rules that hold once every option is read.
void check_whole(check_options &options)
{
    bool ranged = false;
    for (const figure_ranges &ranges : options.ranges)
        ranged = ranged || any_range(ranges);
    if (options.form == output_form::plugin && !ranged)
        refuse(options, "give -w or -c, or both", nullptr, true);
    if (options.pattern && !options.command)
        refuse(options, "-p counts a listing command's lines: give the command after --", nullptr, true);
    if (any_range(options.ranges[FIGURE_IDLE]) && options.idle_minutes < 0)
        refuse(options, "the idle ranges need --idle: how long a session may be idle");
    if (any_range(options.ranges[FIGURE_STALE]) && options.stale_hours < 0)
        refuse(options, "the stale ranges need --stale: how long a session may be logged on but not in use");
    const bool about_sessions = options.unit == count_unit::users || options.idle_minutes >= 0 ||
                                options.stale_hours >= 0 || options.include.count || options.exclude.count ||
                                options.place != place_filter::any || any_range(options.ranges[FIGURE_INACTIVE]) ||
                                any_range(options.ranges[FIGURE_PER_USER]);
    if (about_sessions && options.command)
        refuse(options, "the session options read the system's sessions, not a listing command's lines", nullptr, true);
}

void refuse_missing_value(check_options &options, const option_name &option)
{
    char what[48];
    if (option.letter)
        std::snprintf(what, sizeof what, "-%c needs a value", option.letter);
    else
        std::snprintf(what, sizeof what, "--%s needs a value", option.name);
    refuse(options, what, nullptr, true);
}

// The options without a value; false for those that take one.
bool take_flag(check_options &options, option_id id)
{
    switch (id) {
    case option_id::verbose:
        options.verbose = true;
        return true;
    case option_id::remote:
    case option_id::local: {
        const place_filter place = id == option_id::remote ? place_filter::remote : place_filter::local;
        if (options.place != place_filter::any && options.place != place)
            refuse(options, "give --remote or --local, not both");
        options.place = place;
        return true;
    }
    default:
        return false;
    }
}

// Takes the option at `arguments[at]` and its value; returns where the next
// one starts, or `count` when nothing after it is read.
int take_option(int count, const char *const *arguments, int at, check_options &options)
{
    const char *argument = arguments[at];
    if (std::strcmp(argument, "--") == 0) {
        if (at + 1 == count)
            refuse(options, "-- must be followed by a listing command", nullptr, true);
        options.command = arguments + at + 1;
        return count;
    }
    const char *value = nullptr;
    const option_name *option = find_option(argument, value);
    if (!option) {
        refuse(options, argument[0] == '-' ? "unknown option" : "unexpected argument (a listing command goes after --)",
               argument, true);
        return at + 1;
    }
    if (option->id == option_id::help || option->id == option_id::version) {
        // Asked for help or the version, the rest is not read at all.
        options.action = option->id == option_id::help ? check_action::help : check_action::version;
        return count;
    }
    if (take_flag(options, option->id))
        return at + 1;
    if (!value && at + 1 == count) {
        refuse_missing_value(options, *option);
        return count;
    }
    take_value(options, option->id, value ? value : arguments[++at]);
    return at + 1;
}

}  // namespace

void parse_check_options(int count, const char *const *arguments, check_options &options)
{
    options = {};
    options.action = check_action::check;
    options.timeout_seconds = DEFAULT_TIMEOUT;
    options.idle_minutes = options.stale_hours = -1;
    for (int at = 1; at < count;)
        at = take_option(count, arguments, at, options);
    if (options.action != check_action::help && options.action != check_action::version)
        check_whole(options);
}
