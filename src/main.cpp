// active-users: counts the lines of a session listing on standard input that
// hold a pattern and prints a report whose first word is green, yellow or red.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform.hpp"
#include "report.hpp"
#include "scan.hpp"
#include "settings.hpp"

int main(int argc, char **argv)
{
    const report_settings settings = parse_settings(argc, argv);
    // No command line on Linux or Windows can carry a longer pattern; refuse
    // rather than miss matches where some other system can.
    if (std::strlen(settings.pattern) > PATTERN_LIMIT) {
        report_failure("cannot use the pattern", E2BIG);
        return 1;
    }

    int input = 0;
    platform_prepare_input(input);
    const scan_result scan = scan_input(settings.pattern, read_descriptor, &input);
    const status_colour colour = classify_count(scan.match_count, settings.yellow_limit, settings.red_limit);
    // The clock is read once the input has ended: the report tells when the
    // listing was complete, not when the program started.
    char timestamp[TIMESTAMP_SIZE];
    format_timestamp(std::time(nullptr), timestamp);
    // Room for the whole report, which is at most about 8 KB: one write, and
    // no buffer allocated by the runtime.
    static char output_buffer[16 * 1024];
    std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    int write_error = write_report(stdout, colour, timestamp, scan);
    // Closing is the last place a write error can show; the first one is reported.
    errno = 0;
    if (std::fclose(stdout) != 0 && !write_error)
        write_error = errno ? errno : EIO;

    int status = 0;
    if (scan.read_error) {
        report_failure("cannot read standard input", scan.read_error);
        status = 1;
    }
    if (write_error) {
        report_failure("cannot write standard output", write_error);
        status = 1;
    }
    return status;
}
