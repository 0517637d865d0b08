// One run once the command line is read: the pattern's check, the scan of
// the listing, the colour, the time and the report, and the exit status.
#pragma once

#include <cstdio>

#include "scan/scan.hpp"
#include "settings.hpp"

// Reads the listing from descriptor `input` and writes the report to `out`,
// which it closes after the report, so that a failed write still shows.
// Returns 0, or 1 after a message on standard error. When the pattern or the
// input could not be taken whole it writes no report at all and returns with
// `out` untouched and open.
int run_report(const report_settings &settings, const pattern_forms &forms, int input, std::FILE *out);
