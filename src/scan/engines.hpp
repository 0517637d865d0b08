// What every engine shares: the scan's progress between buffers, and the
// table of the engines this build compiled, made by CMake from its list.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/cpu.h"
#include "scan/filter.hpp"
#include "scan/scan.hpp"

// The engines compare 64-byte chunks, one bit of a mask to a byte.
inline constexpr size_t CHUNK = 64;
// The buffer's bytes past its end that loads may read: a chunk from the last
// candidate start, at most a pattern's length before the end.
inline constexpr size_t BUFFER_SLACK = CHUNK + FILTER_PATTERN_LIMIT;

struct count_progress {
    int64_t match_count;   // lines that held the pattern and whose newline has been seen
    bool in_matched_line;  // the line still open holds the pattern
    bool dense;            // more than one chunk in 8 of the last buffer held candidates
};

// How the capture follows the input: the rules are those of reference_scan
// in tests/test_support.hpp, which states them in twenty plain lines. Pieces
// end at a newline or after PIECE_LIMIT bytes; each is seen up to its first
// NUL; it goes in whole when it fits, else not at all. piece_start is an
// index into the current buffer.
struct capture_progress {
    char *captured;
    size_t length;
    size_t piece_start;       // where the open piece began
    bool piece_may_hold_nul;  // a NUL was seen near the open piece: search it for one at its end
};

// With no room for one more character the capture can take nothing more
// that changes it, and the scan stops following pieces.
inline bool capture_has_room(const capture_progress &capture)
{
    return capture.length < CAPTURE_LIMIT - 1;
}

struct scan_state {
    pattern_filter filters[FORM_LIMIT];  // one for each form of the pattern
    size_t form_count;
    count_progress count;
    capture_progress capture;
};

// One engine's scan of buffer[0, length), whose bytes before new_from were
// carried over from the buffer before.
using buffer_scanner = void (*)(scan_state &state, const char *buffer, size_t length, size_t new_from);

struct engine_entry {
    scan_engine engine;
    unsigned needs;  // the FEATURE_ bits the processor must show
    const char *name;
    buffer_scanner scanner;
};

// ENGINES, the fastest first, and each engine's scanner; written by CMake.
// Constant: the table holds addresses only, so it is filled before any code
// runs, and may be read from another file's static initializer.
#include "scan/engine_list.hpp"

inline constexpr size_t ENGINE_COUNT = sizeof ENGINES / sizeof ENGINES[0];
// The lookups stop at the last entry, so it must run everywhere.
static_assert(ENGINES[ENGINE_COUNT - 1].engine == scan_engine::plain && ENGINES[ENGINE_COUNT - 1].needs == 0);

inline bool engine_runs(const engine_entry &entry)
{
    return (platform_vector_features() & entry.needs) == entry.needs;
}
