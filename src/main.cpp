// active-users: counts the lines of a session listing on standard input that
// hold a pattern and prints a report whose first word is green, yellow or red.
#include <cstdio>

#include "platform.hpp"
#include "run.hpp"

#ifdef _WIN32
// msvcrt's wide start-up (-municode): the pattern arrives as typed in any
// language, not as the ANSI code page's approximation of it.
int wmain(int argc, wchar_t **argv)
{
    const char *arguments[4];
    pattern_forms forms{};
    const int count = platform_wide_arguments(argc, argv, arguments, forms);
    return run_report(parse_settings(count, arguments), forms, 0, stdout);
}
#else
int main(int argc, char **argv)
{
    const report_settings settings = parse_settings(argc, argv);
    return run_report(settings, pattern_forms{{settings.pattern}, 1}, 0, stdout);
}
#endif
