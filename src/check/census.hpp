// Which of the system's sessions count: the rules for logind, utmp and the
// Terminal Services API, and the tally the check judges.
#pragma once

#include <cstddef>
#include <cstdint>

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

// active: counted against the thresholds; inactive: logged on but not in
// use (logind's online, Windows' disconnected); ignored: not a user's
// session; unreadable: one that may count, but what it is could not be read.
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

// How many -v names: the first sessions counted.
inline constexpr size_t NAMED_LIMIT = 32;
inline constexpr size_t NAME_SIZE = 64;

struct session_census {
    int64_t active, inactive;
    bool saw_services_session;  // Terminal Services' session 0, present on every working system
    int64_t unreadable;         // sessions that may count, but could not be read
    long unreadable_id;         // the first of them, and its query's error
    int unreadable_error;
    size_t named;
    char names[NAMED_LIMIT][3 * NAME_SIZE];  // "user place host" of the first active sessions
};

// Whether the census can be trusted; if not, says why.
bool census_whole(session_source source, const session_census &census, text_buffer &why);

// A session_visitor over a session_census.
void tally_session(void *context, session_source source, const session_record &record);
