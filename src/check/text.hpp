// Echoed text made safe for a plugin's one line: bounded, with nothing that
// would start a second line or the performance data.
#pragma once

#include <cstddef>

// The most bytes of one echoed value (an argument, an error line) a line holds.
inline constexpr size_t ECHO_LIMIT = 160;

// A fixed buffer written from the start; what does not fit is left out, a
// whole character at a time, and the text always ends with a NUL.
struct text_buffer {
    char *data;
    size_t size, used;
};

void append(text_buffer &out, const char *text);
// `text` as valid UTF-8 on one line, at most `limit` bytes of it, cut at a
// character's start and marked "..." when cut: a byte that is no part of a
// valid character becomes '?'; controls (C0, DEL and C1), CR and LF among
// them, and the line and paragraph separators become blanks; and '|', which
// would start performance data, becomes '/'.
void append_echo(text_buffer &out, const char *text, size_t limit = ECHO_LIMIT);
void append_number(text_buffer &out, long long number);
