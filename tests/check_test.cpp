// The check's pure parts: ranges at their bounds, the options' refusals,
// the counting rule for every kind of session, and the echo rule.
#include <gtest/gtest.h>

#include <string>

#include "check/census.hpp"
#include "check/options.hpp"
#include "check/text.hpp"

TEST(range, alerts_on_each_side_of_its_bounds)
{
    // Each form, and whether it alerts at the counts 0, 4, 5, 9, 10 and 11.
    struct {
        const char *text;
        const char *alerts;
    } cases[] = {
        {"10", "nnnnny"},  {"10:", "yyyynn"}, {"~:10", "nnnnny"}, {"5:10", "yynnny"},      {"@5:10", "nnyyyn"},
        {"@10", "yyyyyn"}, {"0", "nyyyyy"},   {"0:", "nnnnnn"},   {"@~:4", "yynnnn"},      {"5:5", "yynyyy"},
        {"9:", "yyynnn"},  {"@9:", "nnnyyy"}, {"~:0", "nyyyyy"},  {"000000010", "nnnnny"},
    };
    const int64_t counts[] = {0, 4, 5, 9, 10, 11};
    for (const auto &c : cases) {
        threshold_range range{};
        ASSERT_EQ(parse_range(c.text, range), range_fault::none) << c.text;
        for (size_t i = 0; i < 6; i++)
            EXPECT_EQ(range_alerts(range, counts[i]), c.alerts[i] == 'y') << c.text << " at " << counts[i];
    }
}

TEST(range, refuses_all_but_whole_numbers_in_the_guidelines_forms)
{
    threshold_range range{};
    for (const char *text : {"", ":", "~:", "@", "@~:", "~", "~3", "-1", "+1", "5-3", "1:2:3", "1x", "0x10", " 5", "5 ",
                             "1234567890", "1:1234567890", "@:5", "5\n6", "a|b",
                             // more digits than 64 bits hold: refused without the value overflowing
                             "999999999999999999999999999999"})
        EXPECT_EQ(parse_range(text, range), range_fault::malformed) << '"' << text << '"';
    EXPECT_EQ(parse_range("10:5", range), range_fault::reversed);
    EXPECT_EQ(parse_range("@999999999:999999999", range), range_fault::none);
}

namespace {

const name_filter NO_NAMES = {};
const census_rules EVERY_SESSION = {-1, -1, &NO_NAMES, &NO_NAMES, place_filter::any, false};

check_options parse(std::initializer_list<const char *> given)
{
    static const char *arguments[32];
    int count = 0;
    arguments[count++] = "check_active_users";
    for (const char *argument : given)
        arguments[count++] = argument;
    arguments[count] = nullptr;
    check_options options{};
    parse_check_options(count, arguments, options);
    return options;
}

}  // namespace

TEST(options, take_short_long_attached_and_apart)
{
    const check_options options =
        parse({"-w5", "--critical=6:", "-t", "3", "--format", "count", "-v", "-p", "x", "--", "cmd", "-w", "9"});
    ASSERT_EQ(options.action, check_action::check) << options.refusal;
    EXPECT_STREQ(options.ranges[FIGURE_USERS].warning.text, "5");
    EXPECT_STREQ(options.ranges[FIGURE_USERS].critical.text, "6:");
    EXPECT_EQ(options.timeout_seconds, 3);
    EXPECT_EQ(options.form, output_form::count);
    EXPECT_TRUE(options.verbose);
    EXPECT_STREQ(options.pattern, "x");
    ASSERT_TRUE(options.command);
    EXPECT_STREQ(options.command[0], "cmd");  // what follows -- is the command's, -w included
    EXPECT_STREQ(options.command[2], "9");
    EXPECT_EQ(options.command[3], nullptr);
    EXPECT_EQ(parse({"-f", "count"}).action, check_action::check);  // no thresholds needed for a bare count
    EXPECT_EQ(parse({"-x", "-h"}).action, check_action::help);
    EXPECT_EQ(parse({"-w", "5", "-f", "count", "-f", "plugin"}).form, output_form::plugin);  // the last one holds
}

TEST(options, timeout_defaults_to_10_and_takes_up_to_9999)
{
    EXPECT_EQ(parse({"-w", "5"}).timeout_seconds, 10);
    for (const char *seconds : {"1", "1000", "9999"})
        EXPECT_EQ(parse({"-w", "5", "-t", seconds}).timeout_seconds, std::stoi(seconds)) << seconds;
}

TEST(options, an_empty_range_is_none_given)
{
    const check_options critical_alone = parse({"-w", "", "-c", "1:"});
    ASSERT_EQ(critical_alone.action, check_action::check) << critical_alone.refusal;
    EXPECT_FALSE(critical_alone.ranges[FIGURE_USERS].warning.given);
    EXPECT_TRUE(critical_alone.ranges[FIGURE_USERS].critical.given);
    EXPECT_FALSE(
        parse({"-w", "5", "-w", "", "-c", "6"}).ranges[FIGURE_USERS].warning.given);  // the last one given holds
    EXPECT_EQ(parse({"--warning=", "-c", ""}).action, check_action::refuse);
}

TEST(options, refusals_name_what_they_refuse)
{
    struct {
        std::initializer_list<const char *> arguments;
        const char *refusal;  // its start
    } cases[] = {
        {{}, "give -w or -c, or both; usage: "},
        {{"-w", "5", "-t", "0"}, "the timeout must be 1 to 9999 seconds: '0'"},
        {{"-w", "5", "-t", "10000"}, "the timeout must be 1 to 9999 seconds: '10000'"},
        {{"-w", "5", "--timeout=abc"}, "the timeout must be 1 to 9999 seconds: 'abc'"},
        {{"-w", "5", "-f", "json"}, "the format must be plugin, count or prometheus: 'json'"},
        {{"-w", "5", "-c"}, "-c needs a value; usage: "},
        {{"-w", "5", "--"}, "-- must be followed by a listing command"},
        {{"-w", "5", "-p", "x"}, "-p counts a listing command's lines"},
        {{"-w", "5", "who"}, "unexpected argument (a listing command goes after --): 'who'"},
        {{"--warn=5"}, "unknown option: '--warn=5'"},
        {{"-vw", "5"}, "unknown option: '-vw'"},
        {{"-w", "1:2:3", "-c", "x"}, "the warning range must be N, N:, ~:N, N:M or @N:M"},
        {{"-c", "10:5"}, "the critical range has its start above its end: '10:5'"},
        {{"-w", "5\n|6"}, "the warning range must be N, N:, ~:N, N:M or @N:M with whole numbers N and M: '5 /6'"},
        {{"--idle-warning=1"}, "the idle ranges need --idle"},
        {{"--stale-critical=1"}, "the stale ranges need --stale"},
        {{"-w", "5", "--idle=1000000"}, "--idle must be 0 to 999999 minutes: '1000000'"},
        {{"-w", "5", "--stale=x"}, "--stale must be 0 to 99999 hours: 'x'"},
        {{"-w", "5", "--count=logins"}, "--count must be sessions or users: 'logins'"},
        {{"-w", "5", "--remote", "--local"}, "give --remote or --local, not both"},
        {{"-w", "5", "--exclude=x", "--", "who"}, "the session options read the system's sessions"},
        {{"--per-user-warning=x"}, "the per-user warning range must be"},
        {{"-w", "5", "--include"}, "--include needs a value; usage: "},
    };
    for (const auto &c : cases) {
        const check_options options = parse(c.arguments);
        EXPECT_EQ(options.action, check_action::refuse) << c.refusal;
        EXPECT_EQ(std::string(options.refusal).rfind(c.refusal, 0), 0U) << options.refusal;
    }
}

TEST(name_matches, shell_wildcards_over_the_user_or_the_whole_name)
{
    struct {
        const char *pattern, *name;
        bool matches;
    } cases[] = {
        {"bob", "bob", true},
        {"bob", "bobby", false},
        {"b*", "bob", true},
        {"*b", "bob", true},
        {"?ob", "bob", true},
        {"??b", "b", false},
        {"[ab]ob", "bob", true},
        {"[!b]ob", "bob", false},
        {"[a-c]ob", "bob", true},
        {"[c-z]ob", "bob", false},
        {"svc-*", "svc-monitor", true},
        {"svc-*", "svc", false},
        {"a*b*c", "aXbYc", true},
        {"a*b*c", "aXbY", false},
        {"*a*a", "aaXa", true},
        {"bob", "CORP\\bob", true},
        {"CORP\\*", "CORP\\bob", true},
        {"CORP\\*", "bob", false},
        {"?va", "\xc3\xa9va", true},
        {"[", "[", true},
        {"[]]x", "]x", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(name_matches(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
}

TEST(judge_session, counts_users_sessions_in_use_only)
{
    struct {
        session_source source;
        session_record record;
        session_verdict verdict;
    } cases[] = {
        {session_source::logind, {"alice", "tty2", "", "user", "active"}, session_verdict::active},
        {session_source::logind, {"alice", "pts/1", "", "user-early", "active"}, session_verdict::active},
        {session_source::logind, {"bob", "pts/2", "", "user", "online"}, session_verdict::inactive},
        {session_source::logind, {"bob", "pts/2", "", "user", "closing"}, session_verdict::ignored},
        {session_source::logind, {"bob", "pts/2", "", "user", "opening"}, session_verdict::ignored},
        {session_source::logind, {"gdm", "seat0", "", "greeter", "active"}, session_verdict::ignored},
        {session_source::logind, {"alice", "seat0", "", "lock-screen", "active"}, session_verdict::ignored},
        {session_source::logind, {"alice", "", "", "background", "active"}, session_verdict::ignored},
        {session_source::logind, {"alice", "", "", "manager", "active"}, session_verdict::ignored},
        {session_source::logind, {"alice", "", "", "users", "active"}, session_verdict::ignored},
        {session_source::utmp, {"carol", "pts/3", "", "", "", 0, 0, true, true}, session_verdict::active},
        {session_source::utmp, {"carol", "pts/3", "", "", "", 0, 0, true, false}, session_verdict::ignored},
        {session_source::utmp, {"LOGIN", "tty1", "", "", "", 0, 0, false, true}, session_verdict::ignored},
        {session_source::utmp, {"", "pts/9", "", "", "", 0, 0, true, true}, session_verdict::ignored},
    };
    for (const auto &c : cases)
        EXPECT_EQ(judge_session(c.source, c.record), c.verdict) << c.record.user << " " << c.record.class_name;
}

TEST(judge_session, terminal_services_counts_active_sessions_with_a_user)
{
    // Each state in order, WTSActive to WTSInit, for a user's session other than 0.
    const session_verdict with_user[] = {session_verdict::active,  session_verdict::ignored,  session_verdict::ignored,
                                         session_verdict::active,  session_verdict::inactive, session_verdict::ignored,
                                         session_verdict::ignored, session_verdict::ignored,  session_verdict::ignored,
                                         session_verdict::ignored};
    for (int state = WTS_ACTIVE; state <= WTS_INIT; state++) {
        const session_record user = {"dora", "RDP-Tcp#3", "", "", "", 2, state};
        EXPECT_EQ(judge_session(session_source::terminal_services, user), with_user[state]) << state;
        // A console at the logon screen, a listener: no user.
        const session_record nobody = {"", "Console", "", "", "", 1, state};
        EXPECT_EQ(judge_session(session_source::terminal_services, nobody), session_verdict::ignored) << state;
        const session_record services = {"SYSTEM", "Services", "", "", "", 0, state};
        EXPECT_EQ(judge_session(session_source::terminal_services, services), session_verdict::ignored) << state;
    }
    static session_census census;
    start_census(census, EVERY_SESSION);
    const session_record services = {"", "Services", "", "", "", 0, WTS_DISCONNECTED};
    tally_session(&census, session_source::terminal_services, services);
    EXPECT_TRUE(census.saw_services_session);
}

TEST(census, a_session_that_may_count_but_cannot_be_read_makes_it_untrusted)
{
    struct {
        long id;
        int state, error;  // the error of the query about its user
        session_verdict verdict;
    } cases[] = {
        {2, WTS_ACTIVE, 5, session_verdict::unreadable},    {3, WTS_DISCONNECTED, 5, session_verdict::unreadable},
        {4, WTS_SHADOW, 1722, session_verdict::unreadable}, {65536, WTS_LISTEN, 5, session_verdict::ignored},
        {0, WTS_DISCONNECTED, 5, session_verdict::ignored},
    };
    static session_census census;
    start_census(census, EVERY_SESSION);
    for (const auto &c : cases) {
        const session_record record = {"", "RDP-Tcp#1", "", "", "", c.id, c.state, false, false, c.error};
        EXPECT_EQ(judge_session(session_source::terminal_services, record), c.verdict) << c.id;
        tally_session(&census, session_source::terminal_services, record);
    }
    const session_record dora = {"dora", "RDP-Tcp#2", "", "", "", 5, WTS_ACTIVE};
    tally_session(&census, session_source::terminal_services, dora);
    EXPECT_EQ(census.active, 1);
    char why[128];
    text_buffer reason = {why, sizeof why, 0};
    EXPECT_FALSE(census_whole(session_source::terminal_services, census, reason));
    EXPECT_STREQ(why, "cannot read session 2 (Windows error 5) nor 2 more");
    static session_census single;
    start_census(single, EVERY_SESSION);
    tally_session(&single, session_source::terminal_services,
                  {"", "RDP-Tcp#1", "", "", "", 7, WTS_ACTIVE, false, false, 5});
    reason.used = 0;
    EXPECT_FALSE(census_whole(session_source::terminal_services, single, reason));
    EXPECT_STREQ(why, "cannot read session 7 (Windows error 5)");
    static session_census whole;
    start_census(whole, EVERY_SESSION);
    whole.saw_services_session = true;
    reason.used = 0;
    EXPECT_TRUE(census_whole(session_source::terminal_services, whole, reason));
    whole.saw_services_session = false;
    EXPECT_FALSE(census_whole(session_source::terminal_services, whole, reason));
    EXPECT_TRUE(census_whole(session_source::utmp, whole, reason));  // only Terminal Services has session 0
}

TEST(append_echo, bounds_and_never_breaks_the_line)
{
    struct {
        const char *text;
        size_t limit;
        const char *echoed;
    } cases[] = {
        {"a|b\nc", 160, "a/b c"},
        {"one\ntwo\r\tthree", 160, "one two  three"},
        {"abcdef", 4, "abcd..."},
        {"ab\xc3\xa9z", 3, "ab..."},  // not into the middle of a character
        {"ab\xc3\xa9z", 4, "ab\xc3\xa9..."},
        // Valid UTF-8 always: a byte of no valid character becomes '?' (a
        // stray continuation, a cut sequence, an overlong form, a surrogate,
        // past U+10FFFF), controls and line separators become blanks.
        {"a\x80"
         "b\xc3(\xc0\xafz",
         160, "a?b?(??z"},
        {"\xed\xa0\x80\xf4\x90\x80\x80\xf8\x88\x80\x80\x80", 160, "????????????"},
        {"\xc2\x85\xc2\x9f\xc2\xa0\x7f\xe2\x80\xa8\xe2\x80\xa9\xe2\x80\xaa", 160, "  \xc2\xa0   \xe2\x80\xaa"},
        {"\xf0\x9f\x98\x80!\xe0\xa4\x85\xdf\xbf", 160, "\xf0\x9f\x98\x80!\xe0\xa4\x85\xdf\xbf"},  // each length kept
    };
    for (const auto &c : cases) {
        char into[64];
        text_buffer out = {into, sizeof into, 0};
        append_echo(out, c.text, c.limit);
        EXPECT_STREQ(into, c.echoed) << c.text;
    }
    char small[4];
    text_buffer out = {small, sizeof small, 0};
    append(out, "abcdef");
    EXPECT_STREQ(small, "abc");
    // A buffer's end never cuts a character.
    for (const char *text : {"ab\xc3\xa9", "a\xe2\x82\xac"}) {
        out.used = 0;
        append(out, text);
        EXPECT_STREQ(small, text[1] == 'b' ? "ab" : "a") << text;
        out.used = 0;
        append_echo(out, text);
        EXPECT_STREQ(small, text[1] == 'b' ? "ab." : "a..") << text;  // marked cut, as far as it fits
    }
}
