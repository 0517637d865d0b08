// Black-box runs of the built program: the whole report byte for byte, the
// exit status and standard error, for normal runs and failing streams.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "report.hpp"

namespace {

struct run_outcome {
    int status;
    std::string out;
    std::string err;
    std::time_t started, ended;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// stdin_path: a file to read, or "" for closed. stdout_path: "" for a file of
// our own, "-" for closed, or a path such as /dev/full.
run_outcome run_program(const std::vector<std::string> &arguments, const std::string &stdin_path,
                        const std::string &stdout_path = "")
{
    char out_name[] = "/tmp/active-users-out-XXXXXX";
    char err_name[] = "/tmp/active-users-err-XXXXXX";
    close(mkstemp(out_name));
    close(mkstemp(err_name));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdin_path.empty())
        posix_spawn_file_actions_addclose(&actions, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, stdin_path.c_str(), O_RDONLY, 0);
    if (stdout_path == "-")
        posix_spawn_file_actions_addclose(&actions, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, stdout_path.empty() ? out_name : stdout_path.c_str(),
                                         O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_name, O_WRONLY | O_TRUNC, 0);

    std::vector<char *> argv;
    std::string program = ACTIVE_USERS_BINARY;
    argv.push_back(program.data());
    std::vector<std::string> copies = arguments;
    for (std::string &argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    run_outcome outcome{};
    outcome.started = std::time(nullptr);
    pid_t child;
    int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(spawned, 0);
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    outcome.ended = std::time(nullptr);
    outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    outcome.out = slurp(out_name);
    outcome.err = slurp(err_name);
    unlink(out_name);
    unlink(err_name);
    return outcome;
}

std::string input_file(const std::string &contents)
{
    char name[] = "/tmp/active-users-in-XXXXXX";
    int descriptor = mkstemp(name);
    EXPECT_EQ(write(descriptor, contents.data(), contents.size()), static_cast<ssize_t>(contents.size()));
    close(descriptor);
    return name;
}

// Checks the header's form and that its time is one the clock showed during
// the run; returns the report with the timestamp replaced by "T".
std::string without_timestamp(const run_outcome &run)
{
    static const std::regex HEADER(
        "^(green|yellow|red) ((Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "[ 123][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}) \\[\\]\n");
    std::smatch header;
    if (!std::regex_search(run.out, header, HEADER)) {
        ADD_FAILURE() << "no header in: " << run.out.substr(0, 200);
        return run.out;
    }
    bool seen = false;
    for (std::time_t second = run.started; second <= run.ended; second++) {
        char timestamp[TIMESTAMP_SIZE];
        format_timestamp(second, timestamp);
        seen = seen || header.str(2) == timestamp;
    }
    EXPECT_TRUE(seen) << header.str(2) << " is not the time of the run";
    return run.out.substr(0, header.position(2)) + "T" + run.out.substr(header.position(2) + header.length(2));
}

}  // namespace

TEST(cli, reports_byte_for_byte)
{
    std::string seventy;
    for (int i = 0; i < 70; i++)
        seventy += std::to_string(i) + (i < 62 ? " alice Active tty1\n" : " bob Idle tty2\n");
    struct {
        const char *name;
        std::vector<std::string> arguments;
        std::string input;
        std::string report;
    } cases[] = {
        {"empty", {}, "", "green T []\n\n\n\n0 users active\n"},
        {"one_line", {}, "1 a Active x\n", "green T []\n\n1 a Active x\n\n\n1 users active\n"},
        {"typical_yellow", {}, seventy, "yellow T []\n\n" + seventy + "\n\n62 users active\n"},
        {"unterminated", {}, "a Active b", "green T []\n\na Active b\n\n1 users active\n"},
        {"translated", {" Aktiv ", "0", "0"}, "1 a Aktiv x\n2 b Inaktiv y\n",
         "red T []\n\n1 a Aktiv x\n2 b Inaktiv y\n\n\n1 users active\n"},
        {"negative_yellow", {"x", "-1"}, "", "yellow T []\n\n\n\n0 users active\n"},
        {"extra_arguments_ignored", {" Active ", "0", "0", "junk", "more"}, " Active \n",
         "red T []\n\n Active \n\n\n1 users active\n"},
        {"dash_pattern", {"-v"}, "a -v\nb\n", "green T []\n\na -v\nb\n\n\n1 users active\n"},
        {"empty_pattern", {""}, "a\nb\n\n", "green T []\n\na\nb\n\n\n\n3 users active\n"},
    };
    for (const auto &c : cases) {
        std::string path = input_file(c.input);
        run_outcome run = run_program(c.arguments, path);
        unlink(path.c_str());
        EXPECT_EQ(without_timestamp(run), c.report) << c.name;
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.err, "") << c.name;
    }
}

TEST(cli, failing_streams_are_reported)
{
    std::string listing = input_file("1 a Active x\n");
    struct {
        const char *name;
        std::string stdin_path, stdout_path;
        std::string report;  // "" when nothing can be read back
        std::string err;
    } cases[] = {
        {"stdin_closed", "", "", "green T []\n\n\n\n0 users active\n",
         "active-users: cannot read standard input: Bad file descriptor\n"},
        {"stdin_directory", "/", "", "green T []\n\n\n\n0 users active\n",
         "active-users: cannot read standard input: Is a directory\n"},
        {"stdin_dev_null", "/dev/null", "", "green T []\n\n\n\n0 users active\n", ""},
        {"stdout_full", listing, "/dev/full", "",
         "active-users: cannot write standard output: No space left on device\n"},
        {"stdout_closed", listing, "-", "", "active-users: cannot write standard output: Bad file descriptor\n"},
        {"both_fail", "/", "/dev/full", "",
         "active-users: cannot read standard input: Is a directory\n"
         "active-users: cannot write standard output: No space left on device\n"},
    };
    for (const auto &c : cases) {
        run_outcome run = run_program({}, c.stdin_path, c.stdout_path);
        if (!c.report.empty())
            EXPECT_EQ(without_timestamp(run), c.report) << c.name;
        EXPECT_EQ(run.err, c.err) << c.name;
        EXPECT_EQ(run.status, c.err.empty() ? 0 : 1) << c.name;
    }
    unlink(listing.c_str());
}
