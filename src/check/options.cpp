// Reads the check's options as the plugin guidelines name them, short and
// long, values attached (-w5, --warning=5) or apart, refusing what it cannot
// read rather than guessing.
#include "check/options.hpp"

#include <cstdio>
#include <cstring>

#include "check/text.hpp"

namespace {

struct option_name {
    const char *name;
    char letter;
    bool takes_value;
};

constexpr option_name OPTIONS[] = {
    {"warning", 'w', true}, {"critical", 'c', true}, {"pattern", 'p', true}, {"timeout", 't', true},
    {"format", 'f', true},  {"verbose", 'v', false}, {"help", 'h', false},   {"version", 'V', false},
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
        if (argument[0] == '-' && argument[1] == option.letter) {
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

void take_timeout(check_options &options, const char *text)
{
    const char *at = text;
    int64_t seconds = 0;
    if (!read_digits(at, TIMEOUT_DIGITS, seconds) || *at != '\0' || seconds < 1)
        return refuse(options, "the timeout must be 1 to 9999 seconds", text);
    options.timeout_seconds = static_cast<int>(seconds);
}

void take_format(check_options &options, const char *text)
{
    if (std::strcmp(text, "plugin") == 0)
        options.form = output_form::plugin;
    else if (std::strcmp(text, "count") == 0)
        options.form = output_form::count;
    else if (std::strcmp(text, "prometheus") == 0)
        options.form = output_form::prometheus;
    else
        refuse(options, "the format must be plugin, count or prometheus", text);
}

void take_value(check_options &options, char letter, const char *value)
{
    switch (letter) {
    case 'w':
        return take_range(options, options.warning, "the warning range", value);
    case 'c':
        return take_range(options, options.critical, "the critical range", value);
    case 't':
        return take_timeout(options, value);
    case 'f':
        return take_format(options, value);
    default:
        options.pattern = value;
    }
}

// The threshold and pattern rules that hold once every option is read.
void check_whole(check_options &options)
{
    if (options.form == output_form::plugin && !options.warning.given && !options.critical.given)
        refuse(options, "give -w or -c, or both", nullptr, true);
    if (options.pattern && !options.command)
        refuse(options, "-p counts a listing command's lines: give the command after --", nullptr, true);
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
    if (option->letter == 'h' || option->letter == 'V') {
        // Asked for help or the version, the rest is not read at all.
        options.action = option->letter == 'h' ? check_action::help : check_action::version;
        return count;
    }
    if (option->letter == 'v') {
        options.verbose = true;
        return at + 1;
    }
    if (!value && at + 1 == count) {
        char what[32];
        std::snprintf(what, sizeof what, "-%c needs a value", option->letter);
        refuse(options, what, nullptr, true);
        return count;
    }
    take_value(options, option->letter, value ? value : arguments[++at]);
    return at + 1;
}

}  // namespace

void parse_check_options(int count, const char *const *arguments, check_options &options)
{
    options = {};
    options.action = check_action::check;
    options.timeout_seconds = DEFAULT_TIMEOUT;
    for (int at = 1; at < count;)
        at = take_option(count, arguments, at, options);
    if (options.action != check_action::help && options.action != check_action::version)
        check_whole(options);
}
