// One run once the command line is read: refuses what it cannot take
// whole, and otherwise scans, classifies and reports.
#include "run.hpp"

#include <cerrno>
#include <ctime>

#include "input/decode.hpp"
#include "platform/platform.hpp"
#include "report.hpp"

int run_report(const report_settings &settings, const pattern_forms &forms, int input, std::FILE *out)
{
    // The scan cannot follow a longer pattern across its reads. A Linux kernel
    // with 64 KiB pages takes single arguments up to 2 MiB: refuse rather than
    // report green for a pattern that could never be found.
    if (!pattern_fits(forms)) {
        report_failure("cannot use the pattern", E2BIG);
        return 1;
    }

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
    std::setvbuf(out, output_buffer, _IOFBF, sizeof output_buffer);
    int write_error = write_report(out, colour, timestamp, scan);
    // Closing is the last place a write error can show; the first one is reported.
    errno = 0;
    if (std::fclose(out) != 0 && !write_error)
        write_error = errno ? errno : EIO;
    if (write_error) {
        report_failure("cannot write standard output", write_error);
        return 1;
    }
    return 0;
}
