// Which of the system's sessions count, and how: the rules for logind, utmp
// and the Terminal Services API, the options that choose sessions and
// users, and the figures the check judges.
#pragma once

#include <cstddef>
#include <cstdint>

#include "check/options.hpp"
#include "check/system/system.hpp"

// Terminal Services' session states (WTS_CONNECTSTATE_CLASS), by value.
enum wts_state {
    WTS_ACTIVE,
    WTS_CONNECTED,
    WTS_CONNECT_QUERY,
    WTS_SHADOW,
    WTS_DISCONNECTED,
    WTS_IDLE,
    WTS_LISTEN,
    WTS_RESET,
    WTS_DOWN,
    WTS_INIT
};

// active: in use; inactive: logged on but not in use (logind's online,
// Windows' disconnected); ignored: not a user's session; unreadable: one
// that may count, but what it is could not be read.
enum class session_verdict { active, inactive, ignored, unreadable };

// logind: a session of a user class ("user", and systemd 256's
// "user-early", "user-incomplete" and "user-light") in state "active" is
// active, in state "online" inactive. Greeters, lock screens, background
// and manager sessions, and sessions opening or closing never count.
// utmp: as who shows them, a USER_PROCESS entry with a user name whose
// process is not known to be gone is active.
// Terminal Services: a session with a user, other than session 0 (services),
// is active when WTSActive or shadowing, inactive when disconnected;
// listeners, a console at the logon screen and every other state never count.
// A session in a state that may count about which a query failed is
// unreadable: the count would be a guess.
session_verdict judge_session(session_source source, const session_record &record);

// Whether `name` matches the shell-style `pattern` (*, ?, [set], [!set]). A
// pattern with a backslash matches DOMAIN\user whole; one without, the part
// after the domain. Both are compared as platform_name_key gives them.
bool name_matches(const char *pattern, const char *name);

// How many sessions -v shows, and the bytes of each shown field.
inline constexpr size_t NAMED_LIMIT = 32;
inline constexpr size_t NAME_SIZE = 64;
inline constexpr size_t LINE_SIZE = 4 * NAME_SIZE + 64;
// The users a census tells apart; more make its users figures unknown.
inline constexpr size_t USER_LIMIT = 3072;

// What the options ask of each session.
struct census_rules {
    int64_t idle_seconds;   // an active session idle longer is idle; -1: none is
    int64_t stale_seconds;  // an inactive one longer is stale; -1: none is
    const name_filter *include, *exclude;
    place_filter place;
    bool verbose;
};

struct session_census {
    census_rules rules;
    int64_t active, inactive, idle, stale;  // sessions, of those the options chose
    int64_t users;                          // users with an active session
    int64_t most_per_user;                  // the most sessions one user holds
    bool too_many_users;                    // more than USER_LIMIT: the users figures are unknown
    bool saw_services_session;              // Terminal Services' session 0, present on every working system
    int64_t unreadable;                     // sessions that may count, but could not be read
    long unreadable_id;                     // the first of them, and its query's error
    int unreadable_error;
    int64_t shown;  // sessions -v would show
    size_t named;
    char names[NAMED_LIMIT][LINE_SIZE];  // -v's lines for the first of them
};

// A census that counts nothing yet, under `rules`.
void start_census(session_census &census, const census_rules &rules);

// A session_visitor over a session_census.
void tally_session(void *context, session_source source, const session_record &record);

// Whether the census can be trusted; if not, says why.
bool census_whole(session_source source, const session_census &census, text_buffer &why);

// The users whose sessions `range` alerts on, at most `most` of them, the
// most sessions first, as "alice 4, bob 3"; how many there are in all.
int64_t users_alerting(const session_census &census, const threshold_range &range, size_t most, text_buffer &names);
