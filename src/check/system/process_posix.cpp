// The check's process on POSIX: its arguments as given, a clock, and the
// signals it starts with whatever its parent left, with the handler that
// ends a check an engine gives up on.
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "check/system/posix.hpp"
#include "check/system/system.hpp"

namespace {

constexpr int ENDING_SIGNALS[] = {SIGTERM, SIGINT, SIGHUP};

// What the handler writes; until the options are read, the plugin form's.
const char *volatile ending_out = "ACTIVE USERS UNKNOWN - ended by a signal\n";
const char *volatile ending_err = "";

void write_whole(int descriptor, const char *text)
{
    for (size_t left = std::strlen(text); left > 0;) {
        const ssize_t written = write(descriptor, text, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        text += written;
        left -= static_cast<size_t>(written);
    }
}

// Only calls that are safe in a signal handler.
extern "C" void end_by_signal(int)
{
    end_running_listing();
    write_whole(STDOUT_FILENO, ending_out);
    write_whole(STDERR_FILENO, ending_err);
    _exit(3);
}

void set_default(int signal_number)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigaction(signal_number, &action, nullptr);
}

}  // namespace

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

void platform_name_key(const char *name, text_buffer &key)
{
    append(key, name);
}

bool platform_local_minute(int64_t seconds, char (&text)[20])
{
    const time_t clock = static_cast<time_t>(seconds);
    tm local{};
    return localtime_r(&clock, &local) && strftime(text, sizeof text, "%Y-%m-%dT%H:%M", &local) > 0;
}

int64_t platform_now_ms()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void platform_start_check()
{
    // A closed standard stream would be the number a pipe or file of the
    // check's gets next, and a command's output could land in it. Read-only
    // in its place, a write to it still fails, and the check says so.
    for (int descriptor = 0; descriptor <= 2; descriptor++) {
        if (fcntl(descriptor, F_GETFD) < 0 && open("/dev/null", O_RDONLY) < 0)
            break;
    }
    // An ignored SIGCHLD would let the kernel reap the command and lose its
    // status; an ignored SIGPIPE is the parent's business, not the check's.
    set_default(SIGCHLD);
    set_default(SIGPIPE);
    struct sigaction ending = {};
    ending.sa_handler = end_by_signal;
    sigfillset(&ending.sa_mask);
    for (int signal_number : ENDING_SIGNALS)
        sigaction(signal_number, &ending, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

void platform_set_ending_output(const char *out, const char *err)
{
    ending_out = out;
    ending_err = err;
}

void block_ending_signals(bool blocked)
{
    sigset_t ending;
    sigemptyset(&ending);
    for (int signal_number : ENDING_SIGNALS)
        sigaddset(&ending, signal_number);
    sigprocmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &ending, nullptr);
}

void platform_hold_signals()
{
    block_ending_signals(true);
}
