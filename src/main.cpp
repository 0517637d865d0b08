// active-users: counts the lines of a session listing on standard input that
// hold a pattern and prints a report whose first word is green, yellow or red.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "decode.hpp"
#include "platform.hpp"
#include "report.hpp"
#include "scan.hpp"
#include "settings.hpp"

namespace {

int report_on(const report_settings &settings, const pattern_forms &forms)
{
    // No command line on Linux or Windows can carry a longer pattern; refuse
    // rather than miss matches where some other system can.
    for (size_t i = 0; i < forms.count; i++) {
        if (std::strlen(forms.form[i]) > PATTERN_LIMIT) {
            report_failure("cannot use the pattern", E2BIG);
            return 1;
        }
    }

    int input = 0;
    platform_prepare_input(input);
    static input_decoder decoder;  // 256 KiB, touched only by UTF-16 input
    start_decoder(decoder, read_descriptor, &input, platform_console_text, TEXT_FILE_RULES);
    const scan_result scan = scan_input(forms, read_decoded, &decoder);
    // A listing not read to its end gives no report at all: a colour taken
    // from part of it could say green while the host is red.
    if (scan.read_error) {
        report_failure("cannot read standard input", scan.read_error);
        return 1;
    }
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
    if (write_error) {
        report_failure("cannot write standard output", write_error);
        return 1;
    }
    return 0;
}

}  // namespace

#ifdef _WIN32
// msvcrt's wide start-up (-municode): the pattern arrives as typed in any
// language, not as the ANSI code page's approximation of it.
int wmain(int argc, wchar_t **argv)
{
    const char *arguments[4];
    pattern_forms forms{};
    const int count = platform_wide_arguments(argc, argv, arguments, forms);
    return report_on(parse_settings(count, arguments), forms);
}
#else
int main(int argc, char **argv)
{
    const report_settings settings = parse_settings(argc, argv);
    return report_on(settings, pattern_forms{{settings.pattern}, 1});
}
#endif
