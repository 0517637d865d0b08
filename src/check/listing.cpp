// Runs the listing command through the platform and counts what it prints
// as active-users would, decoding UTF-16 and code pages the same way.
#include "check/listing.hpp"

#include <cstring>

#include "check/system/system.hpp"
#include "input/decode.hpp"
#include "platform/platform.hpp"
#include "scan/scan.hpp"

namespace {

// "NAME WHAT", then ": ERROR LINE" when the command wrote one.
void say(text_buffer &note, const listing_run &run, const char *name, const char *what)
{
    append_echo(note, name);
    append(note, what);
    if (run.error_length) {
        append(note, ": ");
        append_echo(note, run.first_error);
    }
}

// Why the command could not run: the check's own failure named as its own.
void say_not_started(text_buffer &note, const listing_run &run, const char *name)
{
    if (run.own_failure) {
        append(note, run.own_failure);
    } else {
        append(note, "cannot run ");
        append_echo(note, name);
    }
    append(note, ": ");
    append(note, platform_error_text(run.error));
}

// True when the run gave a whole listing; else why not, in `note`.
bool listed_whole(const listing_run &run, const scan_result &scan, int timeout_seconds, const char *name,
                  text_buffer &note)
{
    char what[96];
    text_buffer detail = {what, sizeof what, 0};
    if (run.timed_out) {
        // Ended by itself, yet its output stayed open: a process the check
        // could not end held it.
        append(detail, run.exited ? " ended, but something held its output open past " : " timed out after ");
        append_number(detail, timeout_seconds);
        append(detail, " s");
        append_echo(note, name);
        append(note, what);  // what it wrote before the end is no reason
        return false;
    }
    if (scan.read_error) {
        append(note, "cannot read the listing of ");
        append_echo(note, name);
        append(note, ": ");
        append(note, std::strerror(scan.read_error));  // an errno, from the reader, on every system
        return false;
    }
    if (run.signal || run.exit_status) {
        append(detail, run.signal ? " was ended by signal " : " failed with status ");
        append_number(detail, run.signal ? run.signal : run.exit_status);
        say(note, run, name, what);
        return false;
    }
    // Nothing listed and a complaint: the command could not see the sessions.
    if (run.out_bytes == 0 && run.error_length) {
        say(note, run, name, " listed nothing");
        return false;
    }
    return true;
}

}  // namespace

bool count_listing(const check_options &options, int64_t &count, text_buffer &note)
{
    const char *name = options.command[0];
    pattern_forms forms{};
    if (!platform_pattern_forms(options.pattern ? options.pattern : "", forms) || !pattern_fits(forms)) {
        append(note, "cannot use the pattern: it is too long or not valid text");
        return false;
    }
    static listing_run run;
    if (!platform_start_listing(run, options.command, options.timeout_seconds)) {
        say_not_started(note, run, name);
        return false;
    }
    static input_decoder decoder;  // 256 KiB, touched only by UTF-16 listings
    start_decoder(decoder, platform_read_listing, &run, platform_console_text, TEXT_FILE_RULES);
    static scan_result scan;
    scan = scan_input(forms, read_decoded, &decoder);
    platform_finish_listing(run);
    count = scan.match_count;
    if (!listed_whole(run, scan, options.timeout_seconds, name, note))
        return false;
    if (run.error_length)
        append_echo(note, run.first_error);  // a warning, with the count
    return true;
}
