// A listing command on POSIX: started by fork and exec in a process group
// of its own, read through poll until a deadline, and ended with everything
// it started, those that left its group included.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "check/system/posix.hpp"
#include "check/system/system.hpp"

namespace {

// The check's children before the command: the parent may have handed some
// over with the exec, and they are not the command's to end.
constexpr size_t KNOWN_LIMIT = 64;
// Ending what the command left takes one round for each generation of it.
constexpr int SWEEP_ROUNDS = 64;
// How long the sweep waits for one killed process to be reaped.
constexpr int64_t REAP_WAIT_MS = 500;

struct posix_listing {
    pid_t pid;            // the command, and its group's id; 0 when none runs
    int out, err, watch;  // its output pipes and a pidfd to see it end; -1 when closed
    size_t known_count;   // the check's children before the command; more than KNOWN_LIMIT: unknown
    pid_t known[KNOWN_LIMIT];
    bool sweeping;           // the known ones are known: every other child may be ended
    char children_path[64];  // where Linux lists the check's children
};

posix_listing running = {0, -1, -1, -1, 0, {}, false, ""};

void close_descriptor(int &descriptor)
{
    if (descriptor >= 0)
        close(descriptor);
    descriptor = -1;
}

// The children the kernel lists now, at most `limit`; 0 where it does not
// list them. Safe in a signal handler.
size_t list_children(pid_t *into, size_t limit)
{
    const int file = running.children_path[0] ? open(running.children_path, O_RDONLY | O_CLOEXEC) : -1;
    if (file < 0)
        return 0;
    char text[4096];
    const ssize_t got = read(file, text, sizeof text);
    close(file);
    size_t count = 0;
    pid_t number = 0;
    // A list cut at the buffer's end drops its last number: the next round reads it.
    for (ssize_t i = 0; i < got && count < limit; i++) {
        if (text[i] >= '0' && text[i] <= '9') {
            number = number * 10 + (text[i] - '0');
        } else {
            if (number > 0)
                into[count++] = number;
            number = 0;
        }
    }
    return count;
}

// Which children the check has now, and where to find those it gets later:
// its one thread is their parent, and receives what the command leaves once
// the check is their subreaper. Only a /proc of the check's own PID
// namespace gives numbers that kill() takes.
void remember_children()
{
#ifdef __linux__
    char self[32] = "", pid[32];
    std::snprintf(pid, sizeof pid, "%ld", static_cast<long>(getpid()));
    const ssize_t length = readlink("/proc/self", self, sizeof self - 1);
    self[std::max<ssize_t>(length, 0)] = '\0';
    if (std::strcmp(self, pid) != 0)
        return;
    std::snprintf(running.children_path, sizeof running.children_path, "/proc/self/task/%s/children", pid);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
#endif
    pid_t found[KNOWN_LIMIT + 1];
    running.known_count = list_children(found, KNOWN_LIMIT + 1);
    std::copy(found, found + std::min(running.known_count, KNOWN_LIMIT), running.known);
    running.sweeping = true;
}

bool known_child(pid_t pid)
{
    const pid_t *start = running.known, *end = start + std::min(running.known_count, KNOWN_LIMIT);
    return std::find(start, end, pid) != end;
}

// Reaps a killed process, waiting for it at most REAP_WAIT_MS. Safe in a
// signal handler.
void reap_killed(pid_t pid)
{
    const int64_t until = platform_now_ms() + REAP_WAIT_MS;
    const timespec pause = {0, 1000000};
    while (waitpid(pid, nullptr, WNOHANG) == 0 && platform_now_ms() < until)
        nanosleep(&pause, nullptr);
}

// Kills and reaps every child the check did not have before the command.
// Each killed one hands the check its own children, the check being their
// subreaper, so this goes on until a round finds none. Safe in a signal
// handler.
void end_strays()
{
    if (!running.sweeping || running.known_count > KNOWN_LIMIT)
        return;  // which are the parent's cannot be told
    for (int round = 0; round < SWEEP_ROUNDS; round++) {
        pid_t children[512];
        const size_t count = list_children(children, sizeof children / sizeof children[0]);
        size_t strays = 0;
        for (size_t i = 0; i < count; i++) {
            if (!known_child(children[i]))
                children[strays++] = children[i];
        }
        if (strays == 0)
            return;
        for (size_t i = 0; i < strays; i++)
            kill(children[i], SIGKILL);
        for (size_t i = 0; i < strays; i++)
            reap_killed(children[i]);
    }
}

// Reads what standard error holds now.
void read_errors(listing_run &run)
{
    char chunk[4096];
    const ssize_t got = read(running.err, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR)
        return;
    if (got <= 0) {
        run.err_ended = true;
        return;
    }
    keep_error_bytes(run, chunk, static_cast<size_t>(got));
}

void take_status(listing_run &run, pid_t got, int status)
{
    run.exited = true;
    if (got < 0)
        run.exit_status = -1;  // its status was lost: never taken for success
    else if (WIFEXITED(status))
        run.exit_status = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        run.signal = WTERMSIG(status);
}

// Once the command has ended (`block`: waits for that), ends what it left
// in its group and elsewhere, then reaps it. The group goes first: until the
// command is reaped its id cannot pass to a new process.
void reap(listing_run &run, bool block)
{
    if (running.pid == 0)
        return;
    siginfo_t info{};
    int found;
    do
        found = waitid(P_PID, static_cast<id_t>(running.pid), &info, WEXITED | WNOWAIT | (block ? 0 : WNOHANG));
    while (found < 0 && errno == EINTR);
    if (found == 0 && info.si_pid == 0)
        return;
    kill(-running.pid, SIGKILL);
    int status = 0;
    pid_t got;
    do
        got = waitpid(running.pid, &status, 0);
    while (got < 0 && errno == EINTR);
    // Killed at the deadline, its status is the check's doing, not its own.
    if (!run.timed_out)
        take_status(run, got, status);
    running.pid = 0;
    end_strays();
    close_descriptor(running.watch);
}

// Waits for the command's output, errors or end, until the deadline; false
// once it has passed. With no pidfd (kernels before 5.3) the end is looked
// for every 20 ms.
bool wait_for_events(listing_run &run, bool want_out)
{
    const int64_t now = platform_now_ms();
    if (past_deadline(run, now))
        return false;
    const int64_t left = run.deadline_ms - now;
    pollfd watched[3] = {};
    nfds_t count = 0;
    if (want_out)
        watched[count++] = {running.out, POLLIN, 0};
    const nfds_t err_at = count;
    if (!run.err_ended)
        watched[count++] = {running.err, POLLIN, 0};
    if (running.pid && running.watch >= 0)
        watched[count++] = {running.watch, POLLIN, 0};
    const bool ticking = running.pid && running.watch < 0;
    const int wait = static_cast<int>(ticking ? std::min<int64_t>(left, 20) : left);
    if (poll(watched, count, wait) < 0 && errno != EINTR)
        return false;
    if (!run.err_ended && watched[err_at].revents)
        read_errors(run);
    reap(run, false);
    return true;
}

// In the child: every signal at its default and none blocked, whatever the
// check or its parent set; its own group; killed if the check is, Linux's
// one way to end it then. An exec that fails sends its errno back.
[[noreturn]] void run_command(const char *const *command, const int (&ends)[4], pid_t check)
{
    struct sigaction default_action = {};
    default_action.sa_handler = SIG_DFL;
    for (int signal_number = 1; signal_number < NSIG; signal_number++)
        sigaction(signal_number, &default_action, nullptr);  // refused for SIGKILL and SIGSTOP, as it may be
    setpgid(0, 0);
#ifdef __linux__
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != check)
        _exit(127);
#else
    (void)check;
#endif
    // dup2 clears close-on-exec on 0, 1 and 2 alone: every other descriptor
    // the check holds closes at the exec, the status pipe's included.
    dup2(ends[0], STDIN_FILENO);
    dup2(ends[1], STDOUT_FILENO);
    dup2(ends[2], STDERR_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(command[0], const_cast<char *const *>(command));
    const int error = errno;
    (void)!write(ends[3], &error, sizeof error);
    _exit(127);
}

bool own_failure(listing_run &run, const char *what)
{
    run.own_failure = what;
    run.error = errno;
    return false;
}

// The errno an exec that failed sent back, or 0 once the exec closed the pipe.
int exec_error(int status_pipe)
{
    int error = 0;
    ssize_t got;
    do
        got = read(status_pipe, &error, sizeof error);
    while (got < 0 && errno == EINTR);
    return got == sizeof error ? error : 0;
}

// Forks the command's process, with its group recorded before an ending
// signal can come: one that came between would miss the command.
pid_t start_command(const char *const *command, const int (&ends)[4])
{
    block_ending_signals(true);
    remember_children();
    const pid_t check = getpid(), pid = fork();
    const int fork_error = errno;
    if (pid == 0)
        run_command(command, ends, check);
    if (pid > 0) {
        setpgid(pid, pid);  // as the child does: whichever comes first
        running.pid = pid;
    }
    block_ending_signals(false);
    errno = fork_error;
    return pid;
}

}  // namespace

void end_running_listing()
{
    const pid_t pid = running.pid;
    if (pid > 0) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);  // in case it left its group
    }
    end_strays();  // the command among them
}

bool platform_start_listing(listing_run &run, const char *const *command, int timeout_seconds)
{
    run = {};
    run.deadline_ms = platform_now_ms() + int64_t{timeout_seconds} * 1000;
    const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0)
        return own_failure(run, "cannot open /dev/null");
    int out[2], err[2], status[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(status, O_CLOEXEC) != 0)
        return own_failure(run, "cannot make a pipe");  // what was opened closes as the check ends
    const pid_t pid = start_command(command, {nothing, out[1], err[1], status[1]});
    const int fork_error = errno;
    for (int end : {nothing, out[1], err[1], status[1]})
        close(end);
    running.out = out[0];
    running.err = err[0];
    if (pid < 0) {
        close(status[0]);
        errno = fork_error;
        return own_failure(run, "cannot start a process");
    }
    run.error = exec_error(status[0]);
    close(status[0]);
    if (run.error) {
        platform_finish_listing(run);
        return false;
    }
#ifdef SYS_pidfd_open
    running.watch = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
    return true;
}

long platform_read_listing(void *source, char *into, size_t capacity)
{
    auto &run = *static_cast<listing_run *>(source);
    while (!run.out_ended) {
        // A command that never stops writing meets the deadline here.
        if (past_deadline(run, platform_now_ms()))
            return -1;
        pollfd ready = {running.out, POLLIN, 0};
        if (poll(&ready, 1, 0) > 0) {
            const ssize_t got = read(running.out, into, capacity);
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
    while (running.pid && !run.timed_out && wait_for_events(run, false)) {
    }
    // Ended early (a timeout, a failed read) or done: nothing it started stays.
    if (running.pid) {
        kill(-running.pid, SIGKILL);
        kill(running.pid, SIGKILL);  // in case it left its group
        reap(run, true);
    }
    close_descriptor(running.out);
    // Only a process the check could not end still holds the error pipe:
    // what it writes later is not waited for.
    run.deadline_ms = std::min(run.deadline_ms, platform_now_ms() + 100);
    const bool timed_out = run.timed_out;
    while (!run.err_ended && wait_for_events(run, false)) {
    }
    run.timed_out = timed_out;
    close_descriptor(running.err);
    close_descriptor(running.watch);
}
