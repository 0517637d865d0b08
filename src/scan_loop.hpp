// The scan's inner loop over one buffer of input, written once and compiled
// for each way of building byte masks (plain C++, SSE2, AVX2). Everything here
// has internal linkage on purpose: each engine's file gets its own copy,
// compiled for its own instruction set, and the linker can never swap an AVX2
// copy into the plain path.
#pragma once

#include <cstdint>
#include <cstring>

#include "scan.hpp"
#include "search.hpp"

// State that lives across buffers. The scan keeps the current line's last
// bytes at the front of the next buffer, so each buffer is searched whole.
struct scan_state {
    const char *pattern;
    size_t pattern_length;
    bool pattern_can_match;  // false when a newline stands before the pattern's last byte
    bool use_two_way;        // long patterns: the mask filter would verify too much
    size_t rare_offset_1, rare_offset_2;  // where the filter looks for the two rarest bytes
    char rare_byte_1, rare_byte_2;
    two_way_plan plan;

    int64_t match_count;
    bool in_counted_line;  // the current line already matched; skip to its newline

    // The capture. piece_start is the buffer index where the open piece began.
    char *captured;
    size_t captured_length;
    bool capturing;  // room is left for at least one more character
    size_t piece_start;
    size_t next_nul;  // index of the first NUL at or after piece_start, the buffer's length
                      // when there is none, NUL_UNKNOWN before the buffer was searched
};



using buffer_scanner = void (*)(scan_state &, const char *buffer, size_t length, size_t new_from);

inline constexpr size_t NUL_UNKNOWN = SIZE_MAX;

// The engines, each in a file compiled for its instruction set; nullptr where
// this build or compiler cannot make one.
extern const buffer_scanner plain_scanner;
extern const buffer_scanner sse2_scanner;
extern const buffer_scanner avx2_scanner;

namespace {

inline constexpr size_t CHUNK = 64;

inline unsigned lowest_bit_index(uint64_t bits)
{
    return static_cast<unsigned>(__builtin_ctzll(bits));
}

// Bits at and below the lowest set bit of `bits`; all ones when it is bit 63.
inline uint64_t through_lowest_bit(uint64_t bits)
{
    return bits ^ (bits - 1);
}

inline uint64_t first_bits(size_t count)
{
    return count >= CHUNK ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

// Ends the open piece of `length` raw bytes at buffer[piece_start]. Like fgets
// into a string, it is seen only up to its first NUL; it goes into the capture
// only when that much still fits.
inline void finish_piece(scan_state &state, const char *buffer, size_t buffer_length, size_t length)
{
    size_t start = state.piece_start;
    if (state.next_nul < start || state.next_nul == NUL_UNKNOWN) {
        const void *nul = std::memchr(buffer + start, 0, buffer_length - start);
        state.next_nul = nul ? static_cast<size_t>(static_cast<const char *>(nul) - buffer) : buffer_length;
    }
    size_t visible = state.next_nul < start + length ? state.next_nul - start : length;
    size_t room = CAPTURE_LIMIT - 1 - state.captured_length;
    if (visible <= room) {
        std::memcpy(state.captured + state.captured_length, buffer + start, visible);
        state.captured_length += visible;
        state.capturing = state.captured_length < CAPTURE_LIMIT - 1;
    }
    state.piece_start = start + length;
}

// Pieces end just after a newline and after PIECE_LIMIT bytes. `newlines`
// marks the newlines of the chunk at buffer[chunk_start]; `chunk_end` is where
// the valid bytes of the chunk stop.
inline void capture_chunk(scan_state &state, const char *buffer, size_t length, size_t chunk_start,
                          size_t chunk_end, uint64_t newlines)
{
    while (newlines && state.capturing) {
        size_t line_end = chunk_start + lowest_bit_index(newlines) + 1;
        while (line_end - state.piece_start > PIECE_LIMIT)
            finish_piece(state, buffer, length, PIECE_LIMIT);
        finish_piece(state, buffer, length, line_end - state.piece_start);
        newlines &= newlines - 1;
    }
    while (state.capturing && chunk_end - state.piece_start >= PIECE_LIMIT)
        finish_piece(state, buffer, length, PIECE_LIMIT);
}

inline bool pattern_at(const scan_state &state, const char *where)
{
    return std::memcmp(where, state.pattern, state.pattern_length) == 0;
}

// Counts a line per verified candidate, then drops the candidates up to the
// line's newline. Candidates are start positions where both rare bytes sit
// where the pattern has them.
inline void count_chunk(scan_state &state, const char *chunk, uint64_t newlines, uint64_t candidates)
{
    if (state.in_counted_line) {
        if (!newlines)
            return;
        candidates &= ~through_lowest_bit(newlines);
        state.in_counted_line = false;
    }
    while (candidates) {
        unsigned at = lowest_bit_index(candidates);
        if (!pattern_at(state, chunk + at)) {
            candidates &= candidates - 1;
            continue;
        }
        state.match_count++;
        uint64_t later_newlines = newlines & ~first_bits(at);
        if (!later_newlines) {
            state.in_counted_line = true;
            return;
        }
        candidates &= ~through_lowest_bit(later_newlines);
    }
}

// Long patterns: Two-Way from one match's line end to the next match.
inline void count_two_way(scan_state &state, const char *buffer, size_t length)
{
    size_t at = 0;
    const size_t m = state.pattern_length;
    while (at < length) {
        if (state.in_counted_line) {
            const void *newline = std::memchr(buffer + at, '\n', length - at);
            if (!newline)
                return;
            at = static_cast<size_t>(static_cast<const char *>(newline) - buffer) + 1;
            state.in_counted_line = false;
            continue;
        }
        const char *hit = find_two_way(state.plan, buffer + at, length - at);
        if (!hit)
            return;
        state.match_count++;
        state.in_counted_line = true;
        at = static_cast<size_t>(hit - buffer) + m - 1;
    }
}

// Scans buffer[0, length). Bytes before new_from were carried over from the
// previous buffer: they are searched again (a match may start in them) but were
// already seen by the capture. The buffer has CHUNK readable bytes past
// `length`, and candidate masks are only built where a whole pattern still
// fits, so no load needs a bounds check; what loads read past `length` is
// masked off.
template <uint64_t (*equal_mask)(const char *, char)>
void scan_buffer(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    const size_t m = state.pattern_length;
    const bool filter = state.pattern_can_match && !state.use_two_way && m > 0;
    // Candidates from here on would run past the end; the carry covers them.
    const size_t candidate_end = length >= m ? length - m + 1 : 0;
    const bool need_masks = state.capturing || filter || m == 0;
    for (size_t at = 0; need_masks && at < length; at += CHUNK) {
        const char *chunk = buffer + at;
        uint64_t newlines = equal_mask(chunk, '\n') & first_bits(length - at);
        if (state.capturing) {
            uint64_t new_newlines = at >= new_from ? newlines : newlines & ~first_bits(new_from - at);
            size_t chunk_end = at + CHUNK < length ? at + CHUNK : length;
            if (chunk_end > new_from)
                capture_chunk(state, buffer, length, at, chunk_end, new_newlines);
        }
        if (m == 0) {
            state.match_count += __builtin_popcountll(new_from > at ? newlines & ~first_bits(new_from - at) : newlines);
        } else if (filter) {
            uint64_t candidates = 0;
            if (at < candidate_end) {
                candidates = equal_mask(chunk + state.rare_offset_1, state.rare_byte_1);
                if (state.rare_offset_2 != state.rare_offset_1)
                    candidates &= equal_mask(chunk + state.rare_offset_2, state.rare_byte_2);
                candidates &= first_bits(candidate_end - at);
            }
            if (candidates || state.in_counted_line)
                count_chunk(state, chunk, newlines, candidates);
        }
    }
    if (state.pattern_can_match && state.use_two_way)
        count_two_way(state, buffer, length);
}

}  // namespace
