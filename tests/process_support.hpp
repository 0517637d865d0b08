// Runs the built program as a child process: standard input from a file, a
// pipe fed by a thread, or closed; standard output to a file, a device, or
// closed. Collects status, both outputs and, on request, the peak memory.
// That is taken by /usr/bin/time: a spawned child's own figure would include
// the test process it was cloned from.
// ACTIVE_USERS_WRAPPER (for instance "valgrind -q --error-exitcode=99" or
// "wine") is put in front of the program when set, ACTIVE_USERS_PROGRAM
// replaces the program (a Windows build), and ACTIVE_USERS_TEXT_MODE=1 says
// its output is in text mode: every newline must come as CR LF, and is
// turned back into LF before the comparison.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "report.hpp"

struct run_request {
    std::vector<std::string> arguments;
    std::string stdin_path;            // a file to read; "" is closed unless `feed` is set
    std::function<void(int)> feed;     // writes standard input into this pipe, then returns
    std::string stdout_path;           // "" for a file of our own, "-" for closed, or a device
    bool wrapped = true;               // may run under ACTIVE_USERS_WRAPPER
    bool measure_memory = false;       // run under /usr/bin/time to learn the peak
    std::vector<std::string> command;  // run instead of the program and `arguments`, when given
};

struct run_outcome {
    int spawn_error;  // 0, or why the program could not be started
    int status;
    std::string out, err;
    std::time_t started, ended;
    long peak_kib;  // the program's peak resident memory, when measured
};

inline std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A file that holds `contents` for as long as the object lives. `suffix`
// gives the name an ending, such as ".cmd".
struct temp_file {
    std::string path;

    explicit temp_file(const std::string &contents, const char *suffix = "")
    {
        std::string name = std::string("/tmp/active-users-XXXXXX") + suffix;
        const int descriptor = mkstemps(name.data(), static_cast<int>(std::strlen(suffix)));
        EXPECT_EQ(write(descriptor, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
        close(descriptor);
        path = name;
    }
    ~temp_file() { unlink(path.c_str()); }
    temp_file(const temp_file &) = delete;
    temp_file &operator=(const temp_file &) = delete;
};

// Writes all of `data`, `times` times over; stops quietly if the reader has gone.
inline void write_all(int descriptor, const char *data, size_t size, size_t times = 1)
{
    for (size_t i = 0; i < times; i++) {
        for (size_t done = 0; done < size;) {
            ssize_t n = write(descriptor, data + done, size - done);
            if (n <= 0)
                return;
            done += static_cast<size_t>(n);
        }
    }
}

inline bool text_mode()
{
    const char *setting = std::getenv("ACTIVE_USERS_TEXT_MODE");
    return setting && std::string(setting) == "1";
}

// CR LF back to LF; a lone LF is a fault of the text-mode output.
inline std::string from_text_mode(const std::string &text)
{
    std::string plain;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        EXPECT_FALSE(text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) << "bare newline at " << i;
        plain += text[i];
    }
    return plain;
}

inline std::string program_path()
{
    const char *program = std::getenv("ACTIVE_USERS_PROGRAM");
    return program && *program ? program : ACTIVE_USERS_BINARY;
}

// The child's standard streams: input from a file, the pipe's read end or
// closed; output to `out_name`, a device or closed; errors to `err_name`.
inline void plan_streams(posix_spawn_file_actions_t &actions, const run_request &request, const int feed_pipe[2],
                         const char *out_name, const char *err_name)
{
    if (request.feed) {
        posix_spawn_file_actions_adddup2(&actions, feed_pipe[0], 0);
        posix_spawn_file_actions_addclose(&actions, feed_pipe[0]);
        posix_spawn_file_actions_addclose(&actions, feed_pipe[1]);
    } else if (request.stdin_path.empty()) {
        posix_spawn_file_actions_addclose(&actions, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, request.stdin_path.c_str(), O_RDONLY, 0);
    }
    if (request.stdout_path == "-")
        posix_spawn_file_actions_addclose(&actions, 1);
    else
        posix_spawn_file_actions_addopen(
            &actions, 1, request.stdout_path.empty() ? out_name : request.stdout_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_name, O_WRONLY | O_TRUNC, 0);
}

// The command line: /usr/bin/time when memory is measured, the wrapper, then
// the program and its arguments or the request's own command.
inline std::vector<std::string> command_words(const run_request &request, const char *peak_name)
{
    std::vector<std::string> words;
    if (request.measure_memory)
        words = {"/usr/bin/time", "-f", "%M", "-o", peak_name};
    const char *wrapper = std::getenv("ACTIVE_USERS_WRAPPER");
    if (request.wrapped && wrapper && *wrapper) {
        std::istringstream split(wrapper);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    if (request.command.empty()) {
        words.push_back(program_path());
        words.insert(words.end(), request.arguments.begin(), request.arguments.end());
    } else {
        words.insert(words.end(), request.command.begin(), request.command.end());
    }
    return words;
}

// Feeds the pipe, if any, and waits: the exit status, or 128 + the signal.
inline int wait_for(pid_t child, const run_request &request, int feed_end)
{
    if (request.feed) {
        std::thread writer([&] {
            request.feed(feed_end);
            close(feed_end);
        });
        writer.join();
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

inline run_outcome run_program(const run_request &request)
{
    signal(SIGPIPE, SIG_IGN);
    const temp_file out(""), err(""), peak("");
    int feed_pipe[2] = {-1, -1};
    if (request.feed) {
        EXPECT_EQ(pipe(feed_pipe), 0);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    plan_streams(actions, request, feed_pipe, out.path.c_str(), err.path.c_str());
    std::vector<std::string> words = command_words(request, peak.path.c_str());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    run_outcome outcome{};
    outcome.started = std::time(nullptr);
    pid_t child;
    outcome.spawn_error = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (request.feed)
        close(feed_pipe[0]);
    if (outcome.spawn_error == 0)
        outcome.status = wait_for(child, request, feed_pipe[1]);
    else if (request.feed)
        close(feed_pipe[1]);
    outcome.ended = std::time(nullptr);
    outcome.out = slurp(out.path);
    outcome.err = slurp(err.path);
    if (text_mode()) {
        outcome.out = from_text_mode(outcome.out);
        outcome.err = from_text_mode(outcome.err);
    }
    if (request.measure_memory) {
        // No figure is no proof of a small one: /usr/bin/time must have run.
        outcome.peak_kib = std::atol(slurp(peak.path).c_str());
        EXPECT_GT(outcome.peak_kib, 0) << "no peak memory from /usr/bin/time (Debian: apt-get install time)";
    }
    return outcome;
}

// Checks the header's form and that its time is one the clock showed during
// the run; returns the report with the timestamp replaced by "T".
inline std::string without_timestamp(const run_outcome &run)
{
    // The time's form is kept in one file, which tests/recipes reads too.
    static const std::string TIMESTAMP = slurp(ACTIVE_USERS_TIMESTAMP_ERE);
    static const std::regex HEADER("^(green|yellow|red) (" + TIMESTAMP.substr(0, TIMESTAMP.find('\n')) + ") \\[\\]\n");
    std::smatch header;
    if (!std::regex_search(run.out, header, HEADER)) {
        ADD_FAILURE() << "no header in: " << run.out.substr(0, 200);
        return run.out;
    }
    // The C library's own calendar, not the program's formatting. Two
    // seconds either side: the program's clock under a loaded wine has
    // lagged the test's by one.
    bool seen = false;
    for (std::time_t second = run.started - 2; second <= run.ended + 2; second++) {
        char timestamp[32];
        std::strftime(timestamp, sizeof timestamp, "%a %b %e %H:%M:%S %Y", std::localtime(&second));
        seen = seen || header.str(2) == timestamp;
    }
    EXPECT_TRUE(seen) << header.str(2) << " is not the time of the run";
    return run.out.substr(0, header.position(2)) + "T" + run.out.substr(header.position(2) + header.length(2));
}

// The report, with "T" for the time, the status and standard error of a run.
inline void expect_run(const run_outcome &run, const std::string &report, int status, const std::string &err,
                       const std::string &name)
{
    EXPECT_EQ(without_timestamp(run), report) << name;
    EXPECT_EQ(run.status, status) << name;
    EXPECT_EQ(run.err, err) << name;
}

// The report the program should print, with "T" for the timestamp.
inline std::string expected_report(const char *colour, const std::string &captured, long long count)
{
    return std::string(colour) + " T []\n\n" + captured + "\n\n" + std::to_string(count) + " users active\n";
}
