// The sessions a Linux host keeps: logind's, through libsystemd's public
// sd-login calls, loaded at run time so that building and running need no
// systemd; else utmp's, through the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>
#include <utmpx.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.hpp"

namespace {

struct logind_calls {
    int (*booted)();
    int (*get_sessions)(char ***sessions);
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
bool load_logind(logind_calls &calls, const char *&why)
{
    void *library = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
    why = "libsystemd.so.0 cannot be loaded";
    if (!library)
        return false;
    why = "libsystemd.so.0 lacks the sd-login calls";
    return find(library, "sd_booted", calls.booted) && find(library, "sd_get_sessions", calls.get_sessions) &&
           find(library, "sd_session_get_state", calls.get_state) &&
           find(library, "sd_session_get_class", calls.get_class) &&
           find(library, "sd_session_get_uid", calls.get_uid) && find(library, "sd_session_get_tty", calls.get_tty) &&
           find(library, "sd_session_get_seat", calls.get_seat) &&
           find(library, "sd_session_get_remote_host", calls.get_remote_host);
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

// One session; false with why when its state or class cannot be read. A
// session that closed since it was listed (ENXIO, ENOENT) is passed over.
bool visit_logind_session(const logind_calls &calls, const char *id, session_visitor visit, void *context, char *why,
                          size_t why_size)
{
    char *state = nullptr, *session_class = nullptr;
    int failed = calls.get_state(id, &state);
    if (failed >= 0)
        failed = calls.get_class(id, &session_class);
    if (failed >= 0) {
        uid_t uid = 0;
        char name[64] = "";
        if (calls.get_uid(id, &uid) >= 0)
            user_name(uid, name);
        char *tty = optional(calls.get_tty, id), *seat = tty ? nullptr : optional(calls.get_seat, id);
        char *host = optional(calls.get_remote_host, id);
        const session_record record = {
            name, tty ? tty : seat ? seat : "", host ? host : "", session_class, state, 0, 0, false, false};
        visit(context, session_source::logind, record);
        std::free(tty);
        std::free(seat);
        std::free(host);
    }
    std::free(state);
    std::free(session_class);
    if (failed < 0 && failed != -ENXIO && failed != -ENOENT) {
        std::snprintf(why, why_size, "cannot read logind's session %s: %s", id, std::strerror(-failed));
        return false;
    }
    return true;
}

bool read_logind(const logind_calls &calls, session_visitor visit, void *context, char *why, size_t why_size)
{
    char **sessions = nullptr;
    const int count = calls.get_sessions(&sessions);
    if (count < 0) {
        std::snprintf(why, why_size, "cannot read logind's sessions: %s", std::strerror(-count));
        return false;
    }
    bool whole = true;
    for (int i = 0; i < count && sessions; i++) {
        whole = whole && visit_logind_session(calls, sessions[i], visit, context, why, why_size);
        std::free(sessions[i]);
    }
    std::free(static_cast<void *>(sessions));
    return whole;
}

// A fixed-width utmp field as a string.
template <size_t N>
void field(const char (&from)[N], char (&to)[N + 1])
{
    std::memcpy(to, from, N);
    to[N] = '\0';
}

void read_utmp(session_visitor visit, void *context)
{
    setutxent();
    while (const utmpx *entry = getutxent()) {
        char user[sizeof entry->ut_user + 1], line[sizeof entry->ut_line + 1], host[sizeof entry->ut_host + 1];
        field(entry->ut_user, user);
        field(entry->ut_line, line);
        field(entry->ut_host, host);
        // As who: a login whose process has gone is a stale entry.
        const bool alive = entry->ut_pid > 0 && (kill(entry->ut_pid, 0) == 0 || errno == EPERM);
        const session_record record = {user, line, host, "", "", 0, 0, entry->ut_type == USER_PROCESS, alive};
        visit(context, session_source::utmp, record);
    }
    endutxent();
}

}  // namespace

session_source platform_read_sessions(session_visitor visit, void *context, char *why, size_t why_size)
{
    static logind_calls calls;
    // sd_booted's own test, made before loading: libsystemd and the
    // libraries it needs took 1.4 ms of a check's 3.6 ms where systemd does
    // not run (bench/plugin).
    const char *no_logind = "systemd is not running";
    if (access("/run/systemd/system/", F_OK) == 0 && load_logind(calls, no_logind)) {
        if (calls.booted() > 0)
            return read_logind(calls, visit, context, why, why_size) ? session_source::logind : session_source::none;
        no_logind = "systemd is not running";
    }
    // getutxent says nothing when it cannot open the file: ask first, so
    // that a file the check may not read is never an empty list.
    const int descriptor = open(UTMPX_FILE, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        if (errno == ENOENT)
            std::snprintf(why, why_size, "no session source: %s and there is no %s", no_logind, UTMPX_FILE);
        else
            std::snprintf(why, why_size, "cannot read %s: %s", UTMPX_FILE, std::strerror(errno));
        return session_source::none;
    }
    close(descriptor);
    read_utmp(visit, context);
    return session_source::utmp;
}
