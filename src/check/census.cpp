// The counting rules, apart from the calls that read the sessions, so that
// one table of made-up records can test them on every system.
#include "check/census.hpp"

#include <algorithm>
#include <cstring>
#include <initializer_list>

#include "check/text.hpp"

namespace {

// The users seen, by their key, in an open-addressed table a quarter
// larger than it may fill. Kept out of the census: it is cleared only as
// far as it was used.
constexpr size_t TABLE_SIZE = 4096;
static_assert(USER_LIMIT * 4 <= TABLE_SIZE * 3, "the table stays a quarter empty");

struct user_tally {
    char key[NAME_SIZE];   // as platform_name_key gives it; "" for a free slot
    char name[NAME_SIZE];  // as shown
    int64_t sessions, active;
};

user_tally user_table[TABLE_SIZE];
// The slots in use, in the order they were taken: a look at the users, or
// clearing them, touches only those (the whole table is 150 pages).
uint16_t slots_held[USER_LIMIT];
size_t users_held;

bool user_class(const char *name)
{
    return std::strcmp(name, "user") == 0 || std::strcmp(name, "user-early") == 0 ||
           std::strcmp(name, "user-incomplete") == 0 || std::strcmp(name, "user-light") == 0;
}

// The bytes of the character at `text`, never past its NUL.
size_t character_length(const char *text)
{
    const auto lead = static_cast<unsigned char>(*text);
    size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    for (size_t i = 1; i < length; i++) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return i;
    }
    return length;
}

// Whether the set at `pattern` (at its '[') holds the character of
// `length` bytes at `text`; moves `pattern` past the set. Ranges are of
// single bytes. A '[' with no closing ']' stands for itself.
bool in_set(const char *&pattern, const char *text, size_t length)
{
    const char *at = pattern + 1;
    const bool negated = *at == '!';
    at += negated;
    bool found = false;
    for (const char *first = at; *at && (*at != ']' || at == first);) {
        const auto byte = static_cast<unsigned char>(*text);
        if (at[1] == '-' && at[2] && at[2] != ']') {
            found = found || (length == 1 && byte >= static_cast<unsigned char>(at[0]) &&
                              byte <= static_cast<unsigned char>(at[2]));
            at += 3;
        } else {
            const size_t size = character_length(at);
            found = found || (size == length && std::memcmp(at, text, size) == 0);
            at += size;
        }
    }
    if (*at != ']') {
        pattern++;
        return *text == '[';
    }
    pattern = at + 1;
    return found != negated;
}

// Shell-style matching, backtracking to the last star only.
bool wildcard(const char *pattern, const char *text)
{
    const char *star = nullptr, *resume = nullptr;
    while (*text) {
        const size_t length = character_length(text);
        const char *next = pattern;
        bool same = false;
        if (*pattern == '*') {
            star = ++pattern;
            resume = text;
            continue;
        }
        if (*pattern == '?') {
            same = true;
            next = pattern + 1;
        } else if (*pattern == '[') {
            same = in_set(next, text, length);
        } else if (*pattern) {
            same = character_length(pattern) == length && std::memcmp(pattern, text, length) == 0;
            next = pattern + length;
        }
        if (same) {
            pattern = next;
            text += length;
        } else if (star) {
            pattern = star;
            resume += character_length(resume);
            text = resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        pattern++;
    return *pattern == '\0';
}

// "DOMAIN\user" or "user", bounded.
void full_name(const session_record &record, text_buffer &name)
{
    if (record.domain && *record.domain) {
        append(name, record.domain);
        append(name, "\\");
    }
    append(name, record.user);
}

bool chosen(const census_rules &rules, const session_record &record, const char *name)
{
    if ((rules.place == place_filter::remote && !record.remote) ||
        (rules.place == place_filter::local && record.remote))
        return false;
    bool included = rules.include->count == 0;
    for (size_t i = 0; i < rules.include->count && !included; i++)
        included = name_matches(rules.include->patterns[i], name);
    for (size_t i = 0; i < rules.exclude->count && included; i++)
        included = !name_matches(rules.exclude->patterns[i], name);
    return included;
}

// The user's tally, added when new; nullptr when the table is full.
user_tally *tally_of(const char *name)
{
    char key_text[NAME_SIZE];
    text_buffer key = {key_text, sizeof key_text, 0};
    platform_name_key(name, key);
    uint32_t hash = 2166136261U;  // FNV-1a
    for (const char *at = key_text; *at; at++)
        hash = (hash ^ static_cast<unsigned char>(*at)) * 16777619U;
    for (size_t slot = hash % TABLE_SIZE;; slot = (slot + 1) % TABLE_SIZE) {
        user_tally &user = user_table[slot];
        if (std::strcmp(user.key, key_text) == 0 && user.key[0])
            return &user;
        if (!user.key[0]) {
            if (users_held == USER_LIMIT)
                return nullptr;
            slots_held[users_held++] = static_cast<uint16_t>(slot);
            std::memcpy(user.key, key_text, sizeof key_text);
            text_buffer shown = {user.name, sizeof user.name, 0};
            append(shown, name);
            return &user;
        }
    }
}

// "12m", "3h05m", "2d03h"; "-" when not known.
void append_duration(text_buffer &out, int64_t seconds)
{
    if (seconds < 0)
        return append(out, "-");
    const int64_t minutes = seconds / 60, hours = minutes / 60, days = hours / 24;
    char text[32];
    text_buffer duration = {text, sizeof text, 0};
    append_number(duration, days ? days : hours ? hours : minutes);
    append(duration, days ? "d" : hours ? "h" : "m");
    if (days || hours) {
        const int64_t rest = days ? hours % 24 : minutes % 60;
        append(duration, rest < 10 ? "0" : "");
        append_number(duration, rest);
        append(duration, days ? "h" : "m");
    }
    append(out, text);
}

// -v's line: user, place, host, state, idle (or inactive) time, logon time.
void name_session(session_census &census, const session_record &record, const char *name, const char *state)
{
    if (census.shown++ >= static_cast<int64_t>(NAMED_LIMIT))
        return;  // the count says how many more there are
    text_buffer line = {census.names[census.named++], LINE_SIZE, 0};
    for (const char *field : {name, record.place, record.host, state}) {
        append_echo(line, field && *field ? field : "-", NAME_SIZE - 4);
        append(line, " ");
    }
    append_duration(line, record.inactive_seconds >= 0 ? record.inactive_seconds : record.idle_seconds);
    char logon[20];
    append(line, " ");
    append(line, record.logon_time >= 0 && platform_local_minute(record.logon_time, logon) ? logon : "-");
}

// The state -v shows: the source's own word, or what the options made of it.
const char *state_word(session_source source, const session_record &record, session_verdict verdict)
{
    if (source == session_source::logind)
        return record.state_name;
    if (verdict == session_verdict::inactive)
        return "disconnected";
    return "active";
}

}  // namespace

session_verdict judge_session(session_source source, const session_record &record)
{
    switch (source) {
    case session_source::logind:
        if (!user_class(record.class_name))
            return session_verdict::ignored;
        if (std::strcmp(record.state_name, "active") == 0)
            return session_verdict::active;
        return std::strcmp(record.state_name, "online") == 0 ? session_verdict::inactive : session_verdict::ignored;
    case session_source::utmp:
        return record.user_process && *record.user && record.alive ? session_verdict::active : session_verdict::ignored;
    case session_source::terminal_services: {
        const bool in_use = record.state == WTS_ACTIVE || record.state == WTS_SHADOW;
        if (record.id == 0 || (!in_use && record.state != WTS_DISCONNECTED))
            return session_verdict::ignored;
        if (record.query_error)
            return session_verdict::unreadable;
        if (!record.user || !*record.user)
            return session_verdict::ignored;
        return in_use ? session_verdict::active : session_verdict::inactive;
    }
    case session_source::none:
        break;
    }
    return session_verdict::ignored;
}

bool name_matches(const char *pattern, const char *name)
{
    char pattern_key[4 * NAME_SIZE], name_key[4 * NAME_SIZE];
    text_buffer pattern_text = {pattern_key, sizeof pattern_key, 0}, name_text = {name_key, sizeof name_key, 0};
    platform_name_key(pattern, pattern_text);
    platform_name_key(name, name_text);
    const char *user = std::strrchr(name_key, '\\');
    return wildcard(pattern_key, std::strchr(pattern_key, '\\') || !user ? name_key : user + 1);
}

void start_census(session_census &census, const census_rules &rules)
{
    census = {};
    census.rules = rules;
    for (size_t i = 0; i < users_held; i++)
        user_table[slots_held[i]] = {};
    users_held = 0;
}

void tally_session(void *context, session_source source, const session_record &record)
{
    auto &census = *static_cast<session_census *>(context);
    if (source == session_source::terminal_services && record.id == 0)
        census.saw_services_session = true;
    const session_verdict verdict = judge_session(source, record);
    if (verdict == session_verdict::unreadable && census.unreadable++ == 0) {
        census.unreadable_id = record.id;
        census.unreadable_error = record.query_error;
    }
    if (verdict != session_verdict::active && verdict != session_verdict::inactive)
        return;
    char name_text[NAME_SIZE];
    text_buffer name = {name_text, sizeof name_text, 0};
    full_name(record, name);
    if (!chosen(census.rules, record, name_text))
        return;
    const bool active = verdict == session_verdict::active;
    const bool idle = active && census.rules.idle_seconds >= 0 && record.idle_seconds > census.rules.idle_seconds;
    const bool stale =
        !active && census.rules.stale_seconds >= 0 && record.inactive_seconds > census.rules.stale_seconds;
    (active ? (idle ? census.idle : census.active) : census.inactive)++;
    census.stale += stale;
    user_tally *user = tally_of(name_text);
    census.too_many_users = census.too_many_users || !user;
    if (user) {
        census.users += active && !idle && user->active++ == 0;
        census.most_per_user = std::max(census.most_per_user, ++user->sessions);
    }
    if (census.rules.verbose)
        name_session(census, record, name_text, idle ? "idle" : stale ? "stale" : state_word(source, record, verdict));
}

bool census_whole(session_source source, const session_census &census, text_buffer &why)
{
    if (census.unreadable) {
        append(why, "cannot read session ");
        append_number(why, census.unreadable_id);
        append(why, " (Windows error ");
        append_number(why, census.unreadable_error);
        append(why, ")");
        if (census.unreadable > 1) {
            append(why, " nor ");
            append_number(why, census.unreadable - 1);
            append(why, " more");
        }
        return false;
    }
    // Every working Windows lists its services session: a list without it
    // comes from an API that is broken or a stand-in, and proves nothing.
    if (source == session_source::terminal_services && !census.saw_services_session) {
        append(why, "the Terminal Services API listed no services session, so its list cannot be trusted");
        return false;
    }
    return true;
}

int64_t users_alerting(const session_census &, const threshold_range &range, size_t most, text_buffer &names)
{
    int64_t alerting = 0;
    const user_tally *listed[8] = {};
    most = std::min(most, sizeof listed / sizeof listed[0]);
    for (size_t i = 0; i < users_held; i++) {
        const user_tally &user = user_table[slots_held[i]];
        if (!range_alerts(range, user.sessions))
            continue;
        alerting++;
        // The `most` with the most sessions, by name where they tie.
        size_t at = 0;
        while (at < most && listed[at] &&
               (listed[at]->sessions > user.sessions ||
                (listed[at]->sessions == user.sessions && std::strcmp(listed[at]->name, user.name) < 0)))
            at++;
        if (at < most) {
            std::copy_backward(listed + at, listed + most - 1, listed + most);
            listed[at] = &user;
        }
    }
    for (size_t i = 0; i < most && listed[i]; i++) {
        append(names, i ? ", " : "");
        append_echo(names, listed[i]->name, NAME_SIZE - 4);
        append(names, " ");
        append_number(names, listed[i]->sessions);
    }
    return alerting;
}
