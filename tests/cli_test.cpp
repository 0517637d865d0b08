// Black-box runs of the built program: the whole report byte for byte, the
// exit status and standard error, for normal runs and failing streams.
#include <algorithm>

#include "process_support.hpp"

namespace {

// "active-users: what failed: reason" lines with the reason left out.
std::string without_reasons(const std::string &err)
{
    return std::regex_replace(err, std::regex("(active-users: [^:\n]*): [^\n]*"), "$1");
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
        {"translated",
         {" Aktiv ", "0", "0"},
         "1 a Aktiv x\n2 b Inaktiv y\n",
         "red T []\n\n1 a Aktiv x\n2 b Inaktiv y\n\n\n1 users active\n"},
        {"negative_yellow", {"x", "-1"}, "", "yellow T []\n\n\n\n0 users active\n"},
        {"extra_arguments_ignored",
         {" Active ", "0", "0", "junk", "more"},
         " Active \n",
         "red T []\n\n Active \n\n\n1 users active\n"},
        {"dash_pattern", {"-v"}, "a -v\nb\n", "green T []\n\na -v\nb\n\n\n1 users active\n"},
        {"empty_pattern", {""}, "a\nb\n\n", "green T []\n\na\nb\n\n\n\n3 users active\n"},
        // Literal even where the runtime would expand wildcards in arguments.
        {"star_pattern", {"*"}, "a*b\nc\n", "green T []\n\na*b\nc\n\n\n1 users active\n"},
        {"question_pattern", {"?", "0", "0"}, "a?\n", "red T []\n\na?\n\n\n1 users active\n"},
    };
    for (const auto &c : cases) {
        const temp_file listing(c.input);
        expect_run(run_program({c.arguments, listing.path}), c.report, 0, "", c.name);
    }
}

// A listing that cannot be read to its end gives no report at all, so no
// job can take a colour from it.
TEST(cli, failing_streams_are_reported)
{
    const temp_file listing_file("1 a Active x\n");
    const std::string &listing = listing_file.path;
    struct {
        const char *name;
        std::string stdin_path, stdout_path;
        std::string report;  // what standard output holds, with "T" for the time
        std::string err;
    } cases[] = {
        {"stdin_closed", "", "", "", "active-users: cannot read standard input: Bad file descriptor\n"},
        {"stdin_directory", "/", "", "", "active-users: cannot read standard input: Is a directory\n"},
        {"stdin_dev_null", "/dev/null", "", "green T []\n\n\n\n0 users active\n", ""},
        {"stdout_full", listing, "/dev/full", "",
         "active-users: cannot write standard output: No space left on device\n"},
        {"stdout_closed", listing, "-", "", "active-users: cannot write standard output: Bad file descriptor\n"},
        {"read_fails_nothing_written", "/", "/dev/full", "",
         "active-users: cannot read standard input: Is a directory\n"},
    };
    for (const auto &c : cases) {
        run_outcome run = run_program({{}, c.stdin_path, {}, c.stdout_path});
        EXPECT_EQ(c.report.empty() ? run.out : without_timestamp(run), c.report) << c.name;
        // Windows's runtime gives its own reasons (EINVAL for a closed
        // descriptor or a directory); what failed and the status must agree.
        EXPECT_EQ(text_mode() ? without_reasons(run.err) : run.err, text_mode() ? without_reasons(c.err) : c.err)
            << c.name;
        EXPECT_EQ(run.status, c.err.empty() ? 0 : 1) << c.name;
    }
}

// Windows's text mode, only where the program runs in it: CR LF reads as a
// newline and a Ctrl-Z byte ends the input.
TEST(cli, text_mode_input)
{
    if (!text_mode())
        GTEST_SKIP() << "only for a Windows build";
    const temp_file listing("a Active \r\nb\r\n\x1a c Active \n");
    expect_run(run_program({{}, listing.path}), expected_report("green", "a Active \nb\n", 1), 0, "", "ctrl_z");
}

// Command lines as an administrator types them into cmd.exe, each run from a
// .cmd file: wine re-quotes a command line handed to it from Linux, so a line
// typed there would not reach cmd.exe as written. PROGRAM and LISTING stand
// for the paths.
TEST(cli, typed_into_cmd_exe)
{
    if (!text_mode())
        GTEST_SKIP() << "only for a Windows build";
    const std::string sessions = "1 a Active x\n2 b Idle y\n3 c Active z\n";
    struct {
        const char *name;
        std::string line, input, report;
    } cases[] = {
        {"pipe", "type LISTING | PROGRAM \" Active \" 1 5", sessions, expected_report("yellow", sessions, 2)},
        {"defaults", "PROGRAM < LISTING", sessions, expected_report("green", sessions, 2)},
        {"quoted_star", "PROGRAM \"*\" < LISTING", "a*b\nc\n", expected_report("green", "a*b\nc\n", 1)},
        {"bare_star", "PROGRAM * 0 0 < LISTING", "a*b\nc\n", expected_report("red", "a*b\nc\n", 1)},
        {"empty_pattern", "PROGRAM \"\" < LISTING", "a\nb\n\n", expected_report("green", "a\nb\n\n", 3)},
        // cmd.exe would take a redirection after this pattern for text; a pipe works.
        {"escaped_quote", "type LISTING | PROGRAM \"a\\\"b\" 0", "a\"b\nab\n",
         expected_report("yellow", "a\"b\nab\n", 1)},
        {"signs_and_blanks", "PROGRAM \" Active \" \" +1\" \"+5x\" < LISTING", sessions,
         expected_report("yellow", sessions, 2)},
        {"translated", "PROGRAM \" Aktiv \" 0 0 < LISTING", "1 a Aktiv x\n2 b Inaktiv y\n",
         expected_report("red", "1 a Aktiv x\n2 b Inaktiv y\n", 1)},
    };
    // wine shows the Linux file system as drive Z:.
    auto windows_path = [](const std::string &path) {
        std::string converted = "Z:";
        converted += path;
        std::replace(converted.begin(), converted.end(), '/', '\\');
        return converted;
    };
    for (const auto &c : cases) {
        const temp_file listing(c.input);
        std::string line = c.line;
        line.replace(line.find("PROGRAM"), 7, windows_path(program_path()));
        line.replace(line.find("LISTING"), 7, windows_path(listing.path));
        const temp_file script("@" + line + "\r\n", ".cmd");
        run_request request{{}, "/dev/null"};
        request.command = {"cmd", "/c", windows_path(script.path)};
        expect_run(run_program(request), c.report, 0, "", std::string(c.name) + ": " + line);
    }
}
