// What the check asks of the system and does differently on each: its whole
// command line, a process fit to run it whatever its parent left, the
// sessions the system keeps (logind and utmp on Linux, the Terminal Services
// API on Windows), and a listing command run until a deadline, its output
// read as a block_reader. CMake builds the POSIX or the Windows files of this
// folder; the rules for what counts live with the check, not here.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

#include "check/text.hpp"
#include "settings.hpp"

// The check's arguments: its own options and a listing command's.
inline constexpr int CHECK_ARGUMENT_LIMIT = 256;

struct check_command_line {
    int count;
    const char *arguments[CHECK_ARGUMENT_LIMIT + 1];  // UTF-8 on Windows; ends with nullptr
};

// False when there are more than CHECK_ARGUMENT_LIMIT arguments or (on
// Windows) the command line cannot be read.
bool platform_check_command_line(int argc, char **argv, check_command_line &line);

// The forms a pattern given in UTF-8 takes in a listing, as the report
// program finds them: one on POSIX; the OEM and ANSI code pages and UTF-8 on
// Windows. False when the pattern cannot be converted.
bool platform_pattern_forms(const char *pattern, pattern_forms &forms);

// Makes the process what the check needs, whatever its parent left it: no
// signal blocked, SIGCHLD and SIGPIPE at their defaults, standard streams
// open, and the signals an engine ends a check with (SIGTERM, SIGINT,
// SIGHUP) caught: they end the listing command with all it started, write
// the ending output, and exit with status 3. On Windows there is nothing to
// do: the command's job ends with the check.
void platform_start_check();

// What an ending signal writes: `out` to standard output and `err` to
// standard error, both NUL-terminated and kept until the check exits.
void platform_set_ending_output(const char *out, const char *err);

// The check writes its outcome now: an ending signal from here on waits for
// the exit, so that no second outcome follows the first.
void platform_hold_signals();

// A clock that only moves forward, in milliseconds.
int64_t platform_now_ms();

// The system's text for an error number the platform gave.
const char *platform_error_text(int error);

enum class session_source { none, logind, utmp, terminal_services };

// The sources this system may keep, in the order they are tried, ending
// with none.
const session_source *platform_session_sources();

// One session as its source describes it; text a source lacks is "" (or
// nullptr), numbers 0, times -1.
struct session_record {
    const char *user, *place, *host;      // place: terminal, seat or WinStation; host: where it is used from
    const char *class_name, *state_name;  // logind's CLASS and STATE
    long id;                              // Terminal Services' session id
    int state;                            // Terminal Services' WTS_CONNECTSTATE_CLASS
    bool user_process, alive;             // utmp: a USER_PROCESS entry, and its process not known to be gone
    int query_error;                      // Terminal Services: the error of a query about it that failed, or 0
    const char *domain;                   // Windows: the user's domain
    bool remote;                          // used from another host
    int64_t idle_seconds;                 // since its last input; -1: not known
    int64_t inactive_seconds;             // logged on but not in use for; -1: not known
    int64_t logon_time;                   // seconds since 1970 (UTC); -1: not known
};

using session_visitor = void (*)(void *context, session_source source, const session_record &record);

// absent: this system does not keep the source; failed: it does, but the
// source could not be read whole.
enum class source_answer { whole, absent, failed };

// Hands every session `source` holds to `visit`; otherwise says why in `why`.
// Waiting for a source (a locked utmp) ends at `deadline_ms`. The times are
// read only when `times` asks for them: on Linux each takes a terminal's stat.
source_answer platform_read_sessions(session_source source, int64_t deadline_ms, bool times, session_visitor visit,
                                     void *context, text_buffer &why);

// The form of a user's name that is equal for the same user: as it is on
// POSIX; on Windows, whose names ignore case, in lower case.
void platform_name_key(const char *name, text_buffer &key);

// A time as the local calendar shows it, "2026-12-11T09:30"; false when it
// cannot be formed.
bool platform_local_minute(int64_t seconds, char (&text)[20]);

// What a listing command did, as far as the check saw it. The handles are
// each platform's own, kept in its file: one command runs at a time.
inline constexpr size_t FIRST_ERROR_SIZE = 256;
struct listing_run {
    int64_t deadline_ms;
    int64_t out_bytes;
    bool out_ended, err_ended;
    bool exited;              // the command ended by itself; exit_status or signal says how
    bool timed_out;           // the deadline came first: the command, or what held its output, still ran
    int exit_status;          // the command's status, when it exited
    int signal;               // the signal that ended it, or 0
    const char *own_failure;  // what the check itself could not do to start it, or nullptr
    int error;                // the error of a failed start or read
    bool error_line_done;
    size_t error_length;
    char first_error[FIRST_ERROR_SIZE];  // the first line of standard error that is not blank
};

// Keeps the first line of standard error that is not blank, without its
// leading blanks, to its first FIRST_ERROR_SIZE - 1 bytes; the rest is
// dropped, each byte looked at once.
inline void keep_error_bytes(listing_run &run, const char *bytes, size_t count)
{
    for (size_t i = 0; i < count && !run.error_line_done; i++) {
        const char byte = bytes[i];
        if (byte == '\n' || byte == '\r')
            run.error_line_done = run.error_length > 0;
        else if ((byte != ' ' && byte != '\t') || run.error_length > 0) {
            if (run.error_length + 1 < FIRST_ERROR_SIZE)
                run.first_error[run.error_length++] = byte;
        }
    }
    run.first_error[run.error_length] = '\0';
}

// Whether the deadline has passed at `now_ms`; then the run has timed out,
// and errno says so to the scan.
inline bool past_deadline(listing_run &run, int64_t now_ms)
{
    if (now_ms < run.deadline_ms)
        return false;
    run.timed_out = true;
    errno = ETIMEDOUT;
    return true;
}

// Starts `command` (its name looked up on PATH) with no shell, standard input
// empty, in a process group (Windows: a job) of its own, inheriting nothing
// the check opened. False when it cannot start: `own_failure` names what the
// check could not do, or else the command could not run; `error` says why.
bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds);

// A block_reader over the command's standard output; meanwhile keeps the
// first line of its standard error. -1 with errno ETIMEDOUT at the deadline,
// or with the error of a read that failed.
long platform_read_listing(void *source, char *into, size_t capacity);

// Waits, until the deadline, for the command to end; then ends whatever it
// left running, reads the rest of standard error, and closes every handle.
void platform_finish_listing(listing_run &run);
