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

inline constexpr size_t NO_NUL = SIZE_MAX;

// What the scan looks for, fixed for the run.
struct pattern_filter {
    const char *pattern;
    size_t length;
    bool can_match;    // false when a newline stands before the pattern's last byte
    bool use_two_way;  // long patterns: the mask filter would verify too much
    size_t offset_1, offset_2;  // where the filter looks for the pattern's two rarest bytes
    char byte_1, byte_2;
    uint64_t head, head_mask;  // the first (up to) 8 bytes, as a little-endian load sees them
    two_way_plan plan;
};

struct count_progress {
    int64_t match_count;
    bool in_counted_line;  // the current line already matched; skip to its newline
};

// Indexes are into the current buffer.
struct capture_progress {
    char *captured;
    size_t length;
    bool capturing;      // room is left for at least one more character
    size_t piece_start;  // where the open piece began
    size_t next_nul;     // the first NUL at or after piece_start seen so far, or NO_NUL
};

// State that lives across buffers. The scan keeps the current line's last
// bytes at the front of the next buffer, so each buffer is searched whole.
struct scan_state {
    pattern_filter filter;
    count_progress count;
    capture_progress capture;
};

using buffer_scanner = void (*)(scan_state &, const char *buffer, size_t length, size_t new_from);

// The engines, each in a file compiled for its instruction set; nullptr where
// this build or compiler cannot make one.
extern const buffer_scanner plain_scanner;
extern const buffer_scanner sse2_scanner;
extern const buffer_scanner avx2_scanner;

// Ends the open piece of `length` raw bytes. Like fgets into a string, it is
// seen only up to its first NUL, and goes into the capture only when that much
// still fits. Shared by the engines and the end of input.
inline void finish_piece(capture_progress &capture, const char *buffer, size_t length)
{
    size_t start = capture.piece_start;
    size_t visible = capture.next_nul < start + length ? capture.next_nul - start : length;
    if (visible <= CAPTURE_LIMIT - 1 - capture.length) {
        std::memcpy(capture.captured + capture.length, buffer + start, visible);
        capture.length += visible;
        capture.capturing = capture.length < CAPTURE_LIMIT - 1;
    }
    capture.piece_start = start + length;
}

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

// Finds the first NUL at or after piece_start in this chunk when none is
// known yet or piece_start has moved past it. Earlier chunks' NULs then lie
// before piece_start, and later chunks have not been seen.
inline void refresh_next_nul(capture_progress &capture, size_t chunk_start, uint64_t nuls)
{
    if (capture.next_nul >= capture.piece_start && capture.next_nul != NO_NUL)
        return;
    uint64_t later =
        capture.piece_start > chunk_start ? nuls & ~first_bits(capture.piece_start - chunk_start) : nuls;
    capture.next_nul = later ? chunk_start + lowest_bit_index(later) : NO_NUL;
}

// Marks the newlines that have another newline 1 to `distance` bytes before
// them in the same chunk, that is, that end a line of at most `distance`
// bytes. `distance` is from 1 to 63.
inline uint64_t newlines_within(uint64_t newlines, size_t distance)
{
    uint64_t window = newlines;  // newlines shifted by every amount in [0, width)
    size_t width = 1;
    for (; width * 2 <= distance; width *= 2)
        window |= window << width;
    window |= window << (distance - width);  // now [0, distance)
    return window << 1;
}

// Pieces end just after a newline and after PIECE_LIMIT bytes. Once the
// capture is nearly full almost no piece fits, so the common case is one test
// per line: too long to fit, not cut, no NUL inside; then it is skipped.
[[gnu::always_inline]] inline void capture_chunk(capture_progress &capture, const char *buffer, size_t chunk_start,
                                                 size_t chunk_end, uint64_t newlines, uint64_t nuls)
{
    if (nuls)
        refresh_next_nul(capture, chunk_start, nuls);
    size_t room = CAPTURE_LIMIT - 1 - capture.length;
    // With less room than a chunk, the whole chunk is usually settled at once:
    // no NUL, the first line too long to fit yet not cut, and no two newlines
    // close enough to hold a line that fits. This spares the line loop's
    // unpredictable branches: on 64 MiB of the sparse benchmark listing in
    // memory it took the scan's own time from 6.5 ms to 4.6 ms.
    if (room < CHUNK && capture.next_nul == NO_NUL) {
        if (!newlines) {
            if (chunk_end < capture.piece_start + PIECE_LIMIT)
                return;
        } else {
            size_t first_length = chunk_start + lowest_bit_index(newlines) + 1 - capture.piece_start;
            if (first_length > room && first_length <= PIECE_LIMIT && !(newlines & newlines_within(newlines, room))) {
                capture.piece_start = chunk_start + CHUNK - static_cast<size_t>(__builtin_clzll(newlines));
                return;
            }
        }
    }
    for (; newlines; newlines &= newlines - 1) {
        size_t line_end = chunk_start + lowest_bit_index(newlines) + 1;
        size_t length = line_end - capture.piece_start;
        if (length > room && length <= PIECE_LIMIT && capture.next_nul >= line_end) {
            capture.piece_start = line_end;
            continue;
        }
        for (; length > PIECE_LIMIT; length -= PIECE_LIMIT) {
            finish_piece(capture, buffer, PIECE_LIMIT);
            refresh_next_nul(capture, chunk_start, nuls);
        }
        finish_piece(capture, buffer, length);
        refresh_next_nul(capture, chunk_start, nuls);
        if (!capture.capturing)
            return;
        room = CAPTURE_LIMIT - 1 - capture.length;
    }
    while (capture.capturing && chunk_end >= capture.piece_start + PIECE_LIMIT) {
        finish_piece(capture, buffer, PIECE_LIMIT);
        refresh_next_nul(capture, chunk_start, nuls);
    }
}

inline bool pattern_at(const pattern_filter &filter, const char *where)
{
    // One 8-byte compare settles patterns of up to 8 bytes (the default is 8);
    // the buffer's slack makes the load safe near its end.
    uint64_t head;
    std::memcpy(&head, where, sizeof head);
    if ((head & filter.head_mask) != filter.head)
        return false;
    return filter.length <= 8 || std::memcmp(where + 8, filter.pattern + 8, filter.length - 8) == 0;
}

// Counts a line per verified candidate, then drops the candidates up to the
// line's newline. Candidates are start positions where both rare bytes sit
// where the pattern has them.
[[gnu::always_inline]] inline void count_chunk(count_progress &count, const pattern_filter &filter,
                                               const char *chunk, uint64_t newlines, uint64_t candidates)
{
    if (count.in_counted_line) {
        if (!newlines)
            return;
        candidates &= ~through_lowest_bit(newlines);
        count.in_counted_line = false;
    }
    while (candidates) {
        unsigned at = lowest_bit_index(candidates);
        if (!pattern_at(filter, chunk + at)) {
            candidates &= candidates - 1;
            continue;
        }
        count.match_count++;
        uint64_t later_newlines = newlines & ~first_bits(at);
        if (!later_newlines) {
            count.in_counted_line = true;
            return;
        }
        candidates &= ~through_lowest_bit(later_newlines);
    }
}

// Long patterns: Two-Way from one match's line end to the next match.
inline void count_two_way(count_progress &count, const pattern_filter &filter, const char *buffer, size_t length)
{
    size_t at = 0;
    while (at < length) {
        if (count.in_counted_line) {
            const void *newline = std::memchr(buffer + at, '\n', length - at);
            if (!newline)
                return;
            at = static_cast<size_t>(static_cast<const char *>(newline) - buffer) + 1;
            count.in_counted_line = false;
            continue;
        }
        const char *hit = find_two_way(filter.plan, buffer + at, length - at);
        if (!hit)
            return;
        count.match_count++;
        count.in_counted_line = true;
        at = static_cast<size_t>(hit - buffer) + filter.length - 1;
    }
}

// One chunk of 64 bytes at buffer[at]. `valid` marks the bytes before the
// buffer's end, `fresh` those the capture has not seen yet (the carry was seen
// in the previous buffer); in the middle of a buffer both are all ones and
// fold away.
template <uint64_t (*equal_mask)(const char *, char), bool (*has_nul)(const char *), bool CAPTURING, bool FILTER>
[[gnu::always_inline]] inline void scan_chunk(count_progress &count, capture_progress &capture,
                                              const pattern_filter &filter, const char *buffer, size_t at,
                                              size_t chunk_end, uint64_t valid, uint64_t fresh,
                                              uint64_t candidate_bits)
{
    const char *chunk = buffer + at;
    const uint64_t newlines = equal_mask(chunk, '\n') & valid;
    if (CAPTURING) {
        uint64_t nuls = has_nul(chunk) ? equal_mask(chunk, '\0') & valid & fresh : 0;
        capture_chunk(capture, buffer, at, chunk_end, newlines & fresh, nuls);
    }
    if (!FILTER) {
        if (filter.length == 0)
            count.match_count += __builtin_popcountll(newlines & fresh);
        return;
    }
    // The rarest byte alone usually rules the chunk out.
    uint64_t candidates = candidate_bits ? equal_mask(chunk + filter.offset_1, filter.byte_1) & candidate_bits : 0;
    if (candidates)
        candidates &= equal_mask(chunk + filter.offset_2, filter.byte_2);
    if (candidates || count.in_counted_line)
        count_chunk(count, filter, chunk, newlines, candidates);
}

// The chunks of buffer[0, length) from `at` on, while the capture stays as
// CAPTURING says. Returns where it stopped.
template <uint64_t (*equal_mask)(const char *, char), bool (*has_nul)(const char *), bool CAPTURING, bool FILTER>
size_t scan_chunks(count_progress &count, capture_progress &capture, const pattern_filter &filter,
                   const char *buffer, size_t length, size_t new_from, size_t at)
{
    const uint64_t ALL = ~uint64_t{0};
    const size_t m = filter.length;
    // Candidates from candidate_end on would run past the end; the carry keeps them.
    const size_t candidate_end = length >= m ? length - m + 1 : 0;
    const size_t whole_end = candidate_end < length ? candidate_end : length;
#define STILL_CAPTURING (!CAPTURING || capture.capturing)
    // The carry, already seen by the capture.
    for (; at < new_from && at < length && STILL_CAPTURING; at += CHUNK) {
        size_t end = at + CHUNK < length ? at + CHUNK : length;
        uint64_t candidates = at < candidate_end ? first_bits(candidate_end - at) : 0;
        scan_chunk<equal_mask, has_nul, CAPTURING, FILTER>(count, capture, filter, buffer, at, end,
                                                           first_bits(length - at), ~first_bits(new_from - at),
                                                           candidates);
    }
    // The bulk: every byte valid, fresh and a possible start.
    for (; at + CHUNK <= whole_end && STILL_CAPTURING; at += CHUNK)
        scan_chunk<equal_mask, has_nul, CAPTURING, FILTER>(count, capture, filter, buffer, at, at + CHUNK, ALL,
                                                           ALL, ALL);
    // The last chunks, where the buffer or the possible starts end.
    for (; at < length && STILL_CAPTURING; at += CHUNK) {
        size_t end = at + CHUNK < length ? at + CHUNK : length;
        uint64_t candidates = at < candidate_end ? first_bits(candidate_end - at) : 0;
        scan_chunk<equal_mask, has_nul, CAPTURING, FILTER>(count, capture, filter, buffer, at, end,
                                                           first_bits(length - at), ALL, candidates);
    }
#undef STILL_CAPTURING
    return at;
}

// Scans buffer[0, length). Bytes before new_from were carried over from the
// previous buffer: they are searched again (a match may start in them) but
// were already seen by the capture. The buffer has CHUNK readable bytes past
// `length`, and candidate masks are only built where a whole pattern still
// fits, so no load needs a bounds check; what loads read past `length` is
// masked off.
//
// The engine gives equal_mask (bit i set where chunk[i] is the byte) and
// has_nul (any NUL among 64 bytes: cheaper than its mask, and NULs are rare).
template <uint64_t (*equal_mask)(const char *, char), bool (*has_nul)(const char *), bool FILTER>
void scan_with(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    // Private copies whose addresses never escape let the compiler keep the
    // hot fields in registers; stores into the capture could otherwise alias them.
    const pattern_filter filter = state.filter;
    count_progress count = state.count;
    capture_progress capture = state.capture;
    size_t at = 0;
    if (capture.capturing)
        at = scan_chunks<equal_mask, has_nul, true, FILTER>(count, capture, filter, buffer, length, new_from, at);
    // The capture filled up in the chunk before `at`; go on without it.
    if (FILTER || filter.length == 0)
        scan_chunks<equal_mask, has_nul, false, FILTER>(count, capture, filter, buffer, length, new_from, at);
    if (filter.can_match && filter.use_two_way)
        count_two_way(count, filter, buffer, length);
    state.count = count;
    state.capture = capture;
}

template <uint64_t (*equal_mask)(const char *, char), bool (*has_nul)(const char *)>
void scan_buffer(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    const pattern_filter &filter = state.filter;
    if (filter.can_match && !filter.use_two_way && filter.length > 0)
        scan_with<equal_mask, has_nul, true>(state, buffer, length, new_from);
    else
        scan_with<equal_mask, has_nul, false>(state, buffer, length, new_from);
}

}  // namespace
