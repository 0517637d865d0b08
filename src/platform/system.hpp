// What the check asks of the system and does differently on each: its whole
// command line, the sessions the system keeps (logind and utmp on Linux, the
// Terminal Services API on Windows), and a listing command run with a
// timeout, its output read as a block_reader. CMake builds the POSIX or the
// Windows files; the rules for what counts live with the check, not here.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>

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

enum class session_source { none, logind, utmp, terminal_services };

// One session as its source describes it; fields a source lacks are "" or 0.
struct session_record {
    const char *user, *place, *host;      // place: terminal, seat or WinStation
    const char *class_name, *state_name;  // logind's CLASS and STATE
    long id;                              // Terminal Services' session id
    int state;                            // Terminal Services' WTS_CONNECTSTATE_CLASS
    bool user_process, alive;             // utmp: a login, and its process still exists
};

using session_visitor = void (*)(void *context, session_source source, const session_record &record);

// Hands each session of the first source that answers to `visit`, and
// returns that source; none, with the reason in `why`, when no source could
// be read whole.
session_source platform_read_sessions(session_visitor visit, void *context, char *why, size_t why_size);

// A listing command, running. The fields are the platform's own.
inline constexpr size_t FIRST_ERROR_SIZE = 256;
struct listing_run {
    intptr_t process, group, out, err, watch;  // platform handles; -1 or 0 when closed
    int64_t deadline_ms;
    int64_t out_bytes;
    bool out_ended, err_ended, exited, timed_out;
    int exit_status;  // the command's status, when it exited
    int signal;       // the signal that ended it, or 0
    int error;        // errno of a start or read that failed
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
// the check opened. False with `run.error` set when it cannot start.
bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds);

// A block_reader over the command's standard output; meanwhile keeps the
// first line of its standard error. -1 with errno ETIMEDOUT at the deadline.
long platform_read_listing(void *source, char *into, size_t capacity);

// Waits, until the deadline, for the command to end; then ends whatever it
// left running in its group or job, reads the rest of standard error, and
// closes every handle.
void platform_finish_listing(listing_run &run);

// The system's text for an error number from platform_start_listing.
const char *platform_error_text(int error);
