// The sessions a Linux host keeps: logind's, through libsystemd's public
// sd-login calls, loaded at run time so that building and running need no
// systemd; else utmp's, read whole under the lock the C library's own
// readers take.
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "check/system/system.hpp"

const session_source *platform_session_sources()
{
    static const session_source SOURCES[] = {session_source::logind, session_source::utmp, session_source::none};
    return SOURCES;
}

namespace {

struct logind_calls {
    int (*get_sessions)(char ***sessions);
    int (*is_remote)(const char *session);
    int (*get_start_time)(const char *session, uint64_t *microseconds);  // systemd 254 on; else nullptr
    int (*get_state)(const char *session, char **state);
    int (*get_class)(const char *session, char **session_class);
    int (*get_uid)(const char *session, uid_t *uid);
    int (*get_tty)(const char *session, char **tty);
    int (*get_seat)(const char *session, char **seat);
    int (*get_remote_host)(const char *session, char **host);
};

template <typename call>
bool find(void *library, const char *name, call &into)
{
    into = reinterpret_cast<call>(dlsym(library, name));
    return into != nullptr;
}

// False, with why, when libsystemd is missing or lacks a call; it stays loaded.
bool load_logind(logind_calls &calls, text_buffer &why)
{
    void *library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        append(why, "libsystemd.so.0 cannot be loaded");
        return false;
    }
    if (find(library, "sd_get_sessions", calls.get_sessions) &&
        find(library, "sd_session_get_state", calls.get_state) &&
        find(library, "sd_session_get_class", calls.get_class) && find(library, "sd_session_get_uid", calls.get_uid) &&
        find(library, "sd_session_get_tty", calls.get_tty) && find(library, "sd_session_get_seat", calls.get_seat) &&
        find(library, "sd_session_get_remote_host", calls.get_remote_host) &&
        find(library, "sd_session_is_remote", calls.is_remote)) {
        find(library, "sd_session_get_start_time", calls.get_start_time);
        return true;
    }
    append(why, "libsystemd.so.0 lacks the sd-login calls");
    return false;
}

// A session's optional text: "" when it has none. Free with std::free.
char *optional(int (*get)(const char *, char **), const char *session)
{
    char *text = nullptr;
    return get(session, &text) >= 0 ? text : nullptr;
}

// The user's name, else the uid as a number.
void user_name(uid_t uid, char (&name)[64])
{
    passwd entry{}, *found = nullptr;
    char lines[2048];
    if (getpwuid_r(uid, &entry, lines, sizeof lines, &found) == 0 && found)
        std::snprintf(name, sizeof name, "%s", found->pw_name);
    else
        std::snprintf(name, sizeof name, "%u", static_cast<unsigned>(uid));
}

// Seconds since a terminal's last input, as w tells it: since the device
// was last read. -1 for no terminal, or one that cannot be looked at.
int64_t idle_seconds(const char *terminal)
{
    char path[80];
    struct stat about {};
    if (!terminal || !*terminal || std::snprintf(path, sizeof path, "/dev/%s", terminal) >= int{sizeof path} ||
        stat(path, &about) != 0)
        return -1;
    const int64_t idle = int64_t{time(nullptr)} - int64_t{about.st_atime};
    return idle > 0 ? idle : 0;
}

void visit_described(const logind_calls &calls, const char *id, const char *session_class, const char *state,
                     bool times, session_visitor visit, void *context)
{
    uid_t uid = 0;
    char name[64] = "";
    if (calls.get_uid(id, &uid) >= 0)
        user_name(uid, name);
    char *tty = optional(calls.get_tty, id), *seat = tty ? nullptr : optional(calls.get_seat, id);
    char *host = optional(calls.get_remote_host, id);
    uint64_t started = 0;
    session_record record{};
    record.user = name;
    record.place = tty ? tty : seat ? seat : "";
    record.host = host ? host : "";
    record.class_name = session_class;
    record.state_name = state;
    record.remote = calls.is_remote(id) > 0;
    record.idle_seconds = times ? idle_seconds(tty) : -1;
    // logind's online sessions are idle since their terminal's last input.
    record.inactive_seconds = std::strcmp(state, "online") == 0 ? record.idle_seconds : -1;
    record.logon_time =
        calls.get_start_time && calls.get_start_time(id, &started) >= 0 ? static_cast<int64_t>(started / 1000000) : -1;
    visit(context, session_source::logind, record);
    std::free(tty);
    std::free(seat);
    std::free(host);
}

// One session; false with why when its state or class cannot be read. A
// session that closed since it was listed (ENXIO, ENOENT) is passed over.
bool visit_logind_session(const logind_calls &calls, const char *id, bool times, session_visitor visit, void *context,
                          text_buffer &why)
{
    char *state = nullptr, *session_class = nullptr;
    int failed = calls.get_state(id, &state);
    if (failed >= 0)
        failed = calls.get_class(id, &session_class);
    if (failed >= 0)
        visit_described(calls, id, session_class, state, times, visit, context);
    std::free(state);
    std::free(session_class);
    if (failed >= 0 || failed == -ENXIO || failed == -ENOENT)
        return true;
    append(why, "cannot read logind's session ");
    append_echo(why, id);
    append(why, ": ");
    append(why, std::strerror(-failed));
    return false;
}

source_answer read_logind(bool times, session_visitor visit, void *context, text_buffer &why)
{
    // sd_booted's own test, made before loading: libsystemd and the
    // libraries it needs took 1.4 ms of a check's 3.6 ms where systemd does
    // not run (bench/plugin).
    if (access("/run/systemd/system/", F_OK) != 0) {
        append(why, "systemd is not running");
        return source_answer::absent;
    }
    static logind_calls calls;
    if (!load_logind(calls, why))
        return source_answer::failed;
    // logind makes this folder as it starts, before any session opens.
    // Without it sd_get_sessions finds no session at all, whoever is logged on.
    if (access("/run/systemd/sessions/", F_OK) != 0) {
        append(why, "logind is not running: there is no /run/systemd/sessions");
        return source_answer::failed;
    }
    char **sessions = nullptr;
    const int count = calls.get_sessions(&sessions);
    if (count < 0) {
        append(why, "cannot read logind's sessions: ");
        append(why, std::strerror(-count));
        return source_answer::failed;
    }
    bool whole = true;
    for (int i = 0; i < count && sessions; i++) {
        whole = whole && visit_logind_session(calls, sessions[i], times, visit, context, why);
        std::free(sessions[i]);
    }
    std::free(static_cast<void *>(sessions));
    return whole ? source_answer::whole : source_answer::failed;
}

// A fixed-width utmp field as a string.
template <size_t N>
void field(const char (&from)[N], char (&to)[N + 1])
{
    std::memcpy(to, from, N);
    to[N] = '\0';
}

void visit_entry(const utmpx &entry, bool times, session_visitor visit, void *context)
{
    char user[sizeof entry.ut_user + 1], line[sizeof entry.ut_line + 1], host[sizeof entry.ut_host + 1];
    field(entry.ut_user, user);
    field(entry.ut_line, line);
    field(entry.ut_host, host);
    // As who: a login whose process is known to be gone is a stale entry;
    // one with no process number, or one that may not be signalled, may
    // still be there.
    const bool alive = entry.ut_pid <= 0 || kill(entry.ut_pid, 0) == 0 || errno != ESRCH;
    session_record record{};
    record.user = user;
    record.place = line;
    record.host = host;
    record.class_name = record.state_name = "";
    record.user_process = entry.ut_type == USER_PROCESS;
    record.alive = alive;
    // A local X display writes its ":0" where a remote login writes its host.
    record.remote = host[0] && host[0] != ':';
    record.idle_seconds = times ? idle_seconds(line) : -1;
    record.inactive_seconds = -1;
    record.logon_time = entry.ut_tv.tv_sec > 0 ? entry.ut_tv.tv_sec : -1;
    visit(context, session_source::utmp, record);
}

// Takes the read lock the C library's readers take, waiting while a writer
// holds it until the deadline. A file system without locks is read as is.
bool lock_utmp(int file, int64_t deadline_ms)
{
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    const timespec pause = {0, 10000000};  // 10 ms
    while (fcntl(file, F_SETLK, &lock) != 0) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR)
            return true;
        if (platform_now_ms() >= deadline_ms)
            return false;
        nanosleep(&pause, nullptr);
    }
    return true;
}

// The file's entries are the C library's own utmpx: 384 bytes on most
// systems, 400 on arm64. On a 32-bit system this file is built with 32-bit
// time, as the library that writes the file was (CMakeLists.txt).
// Every entry, or false with why: a failed read, or a file that ends inside
// an entry, is never taken for fewer logins.
bool visit_utmp(int file, bool times, session_visitor visit, void *context, text_buffer &why)
{
    static utmpx entries[64];
    auto *bytes = reinterpret_cast<char *>(entries);
    size_t held = 0;
    for (;;) {
        const ssize_t got = read(file, bytes + held, sizeof entries - held);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            append(why, "cannot read " UTMPX_FILE ": ");
            append(why, std::strerror(errno));
            return false;
        }
        held += static_cast<size_t>(got);
        const size_t whole = held / sizeof entries[0];
        for (size_t i = 0; i < whole; i++)
            visit_entry(entries[i], times, visit, context);
        held -= whole * sizeof entries[0];
        std::memmove(bytes, bytes + whole * sizeof entries[0], held);
        if (got == 0)
            break;
    }
    if (held == 0)
        return true;
    append(why, UTMPX_FILE " ends inside an entry");
    return false;
}

source_answer read_utmp(int64_t deadline_ms, bool times, session_visitor visit, void *context, text_buffer &why)
{
    // Not blocking: a FIFO put in its place would hold the open.
    const int file = open(UTMPX_FILE, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file < 0) {
        const bool missing = errno == ENOENT;
        append(why, missing ? "there is no " UTMPX_FILE : "cannot read " UTMPX_FILE ": ");
        if (!missing)
            append(why, std::strerror(errno));
        return missing ? source_answer::absent : source_answer::failed;
    }
    struct stat about {};
    bool whole = false;
    if (fstat(file, &about) != 0 || !S_ISREG(about.st_mode))
        append(why, UTMPX_FILE " is not a file");
    else if (!lock_utmp(file, deadline_ms))
        append(why, UTMPX_FILE " stayed locked by another process until the timeout");
    else
        whole = visit_utmp(file, times, visit, context, why);
    close(file);
    return whole ? source_answer::whole : source_answer::failed;
}

}  // namespace

source_answer platform_read_sessions(session_source source, int64_t deadline_ms, bool times, session_visitor visit,
                                     void *context, text_buffer &why)
{
    switch (source) {
    case session_source::logind:
        return read_logind(times, visit, context, why);
    case session_source::utmp:
        return read_utmp(deadline_ms, times, visit, context, why);
    default:
        return source_answer::absent;
    }
}
