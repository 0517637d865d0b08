// One buffer's scan, the count and the capture, written once over a small
// engine interface and compiled in each engine's file. The functions have
// internal linkage on purpose: each engine's file gets its own copy, built
// for its own instruction set, that no other file can call.
//
// An engine is a struct with equal_mask (a 64-bit mask of the bytes of a
// 64-byte chunk equal to one value), has_byte, and PREFERS_MEMCHR.
#pragma once

#include "scan/capture.hpp"
#include "scan/count.hpp"

namespace {

// Scans buffer[0, length). The bytes before new_from were carried over from
// the previous buffer: the count searches them again, as a match may start
// there, but the capture has seen them.
template <class engine>
void scan_buffer(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    const pattern_filter &filter = state.filters[0];
    if (state.form_count > 1 || (filter.can_match && filter.length > FILTER_PATTERN_LIMIT))
        count_two_way(state.count, state.filters, state.form_count, buffer, length, new_from);
    else if (filter.length == 0)
        count_newlines<engine>(state.count, buffer, length);
    else if (filter.can_match)
        count_matches<engine>(state.count, filter, buffer, length);
    capture_pieces<engine>(state.capture, buffer, new_from, length);
}

}  // namespace
