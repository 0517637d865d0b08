// active-users: counts the lines of a session listing on standard input that
// hold a pattern and prints a report whose first word is green, yellow or red.
#include <cstdio>

#include "platform/platform.hpp"
#include "run.hpp"

int main(int argc, char **argv)
{
    command_line line{};
    platform_command_line(argc, argv, line);
    return run_report(parse_settings(line.count, line.arguments), line.forms, 0, stdout);
}
