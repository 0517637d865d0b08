// The check's POSIX side: its arguments as given, and a listing command run
// by posix_spawn in a process group of its own, read through poll until a
// deadline, the group ended once the command is done.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/system.hpp"

bool platform_check_command_line(int argc, char **argv, check_command_line &line)
{
    if (argc > CHECK_ARGUMENT_LIMIT)
        return false;
    line.count = argc;
    std::copy(argv, argv + argc, line.arguments);
    line.arguments[argc] = nullptr;
    return true;
}

bool platform_pattern_forms(const char *pattern, pattern_forms &forms)
{
    forms = {{pattern}, 1};
    return true;
}

const char *platform_error_text(int error)
{
    return std::strerror(error);
}

namespace {

// The running command's group, for the signal handler.
volatile pid_t running_group = 0;

// An engine that ends the check (SIGTERM, SIGINT, SIGHUP) ends the command's
// group with it, and gets the check's one line. Only calls that are safe in
// a signal handler.
extern "C" void end_by_signal(int)
{
    if (running_group > 0)
        kill(-running_group, SIGKILL);
    static const char LINE[] = "ACTIVE USERS UNKNOWN - ended by a signal\n";
    (void)!write(STDOUT_FILENO, LINE, sizeof LINE - 1);
    _exit(3);
}

int64_t now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void close_handle(intptr_t &handle)
{
    if (handle >= 0)
        close(static_cast<int>(handle));
    handle = -1;
}

// Reads what standard error holds now.
void read_errors(listing_run &run)
{
    char chunk[4096];
    const ssize_t got = read(static_cast<int>(run.err), chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
        return;
    if (got <= 0) {
        run.err_ended = true;
        return;
    }
    keep_error_bytes(run, chunk, static_cast<size_t>(got));
}

// Once the command has ended (`block`: waits for that), ends what it left
// in its group, then reaps it. The group goes first: until the command is
// reaped its id cannot pass to a new process.
void reap(listing_run &run, bool block)
{
    if (run.exited)
        return;
    const auto pid = static_cast<pid_t>(run.process);
    siginfo_t info{};
    int found;
    do
        found = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG));
    while (found < 0 && errno == EINTR);
    if (found == 0 && info.si_pid == 0)
        return;
    kill(-static_cast<pid_t>(run.group), SIGKILL);
    int status = 0;
    pid_t got;
    do
        got = waitpid(pid, &status, 0);
    while (got < 0 && errno == EINTR);
    run.exited = true;
    if (got < 0)
        run.exit_status = -1;  // its status was lost: never taken for success
    else if (WIFEXITED(status))
        run.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
    close_handle(run.watch);
}

// Waits for the command's output, errors or end, until the deadline; false
// once it has passed. With no pidfd (kernels before 5.3) the end is looked
// for every 20 ms.
bool wait_for_events(listing_run &run, bool want_out)
{
    const int64_t now = now_ms();
    if (past_deadline(run, now))
        return false;
    const int64_t left = run.deadline_ms - now;
    pollfd watched[3] = {};
    nfds_t count = 0;
    if (want_out)
        watched[count++] = {static_cast<int>(run.out), POLLIN, 0};
    const nfds_t err_at = count;
    if (!run.err_ended)
        watched[count++] = {static_cast<int>(run.err), POLLIN, 0};
    if (!run.exited && run.watch >= 0)
        watched[count++] = {static_cast<int>(run.watch), POLLIN, 0};
    const bool ticking = !run.exited && run.watch < 0;
    const int wait = static_cast<int>(ticking ? std::min<int64_t>(left, 20) : left);
    if (poll(watched, count, wait) < 0 && errno != EINTR)
        return false;
    if (!run.err_ended && watched[err_at].revents)
        read_errors(run);
    reap(run, false);
    return true;
}

}  // namespace

bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds)
{
    run = {};
    run.process = run.group = run.out = run.err = run.watch = -1;
    run.deadline_ms = now_ms() + int64_t{timeout_seconds} * 1000;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        run.error = errno;
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        run.error = errno;
        close(out[0]);
        close(out[1]);
        return false;
    }
    run.out = out[0];
    run.err = err[0];
    // dup2 in the child clears close-on-exec on 1 and 2 alone: every other
    // descriptor the check holds closes at the exec.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    // Its own group, every signal at its default and none blocked, whatever
    // the engine left the check with (an ignored SIGPIPE, say).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    struct sigaction ending = {};
    ending.sa_handler = end_by_signal;
    sigfillset(&ending.sa_mask);
    for (int signal_number : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal_number, &ending, nullptr);
    pid_t pid = 0;
    const int failed =
        posix_spawnp(&pid, command[0], &actions, &attributes, const_cast<char *const *>(command), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);
    close(err[1]);
    if (failed) {
        run.error = failed;
        close_handle(run.out);
        close_handle(run.err);
        return false;
    }
    run.process = run.group = pid;
    running_group = pid;
#ifdef SYS_pidfd_open
    run.watch = syscall(SYS_pidfd_open, pid, 0);
#endif
    return true;
}

long platform_read_listing(void *source, char *into, size_t capacity)
{
    auto &run = *static_cast<listing_run *>(source);
    while (!run.out_ended) {
        // A command that never stops writing meets the deadline here.
        if (past_deadline(run, now_ms()))
            return -1;
        pollfd ready = {static_cast<int>(run.out), POLLIN, 0};
        if (poll(&ready, 1, 0) > 0) {
            const ssize_t got = read(static_cast<int>(run.out), into, capacity);
            if (got > 0) {
                run.out_bytes += got;
                return static_cast<long>(got);
            }
            if (got == 0 || errno != EINTR) {
                run.out_ended = true;
                return static_cast<long>(got);
            }
        }
        if (!wait_for_events(run, true)) {
            errno = run.timed_out ? ETIMEDOUT : errno;
            return -1;
        }
    }
    return 0;
}

void platform_finish_listing(listing_run &run)
{
    while (!run.exited && !run.timed_out && wait_for_events(run, false)) {
    }
    // Ended early (a timeout, a failed read) or done: nothing of its group stays.
    kill(-static_cast<pid_t>(run.group), SIGKILL);
    reap(run, true);
    running_group = 0;
    close_handle(run.out);
    // Its group is gone, so only a process that left it still holds the
    // pipe: what it writes later is not waited for.
    run.deadline_ms = std::min(run.deadline_ms, now_ms() + 100);
    const bool timed_out = run.timed_out;
    while (!run.err_ended && wait_for_events(run, false)) {
    }
    run.timed_out = timed_out;
    close_handle(run.err);
}
