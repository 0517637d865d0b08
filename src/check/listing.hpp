// A listing command's lines, counted by the report program's own scan: the
// check's source when a command follows --.
#pragma once

#include <cstdint>

#include "check/options.hpp"
#include "check/text.hpp"

// Runs the command and counts the lines of its listing that hold the
// pattern (every line without one). True when it listed and ended well,
// with any warning it wrote in `note`; false, with the reason in `note`,
// when it could not start, failed, was killed, timed out, could not be
// read, or wrote only to standard error.
bool count_listing(const check_options &options, int64_t &count, text_buffer &note);
