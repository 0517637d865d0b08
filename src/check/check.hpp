// The whole check: the command line, the sessions or the listing, the
// thresholds and the output.
#pragma once

// Returns the exit status: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN.
int run_check(int argc, char **argv);
