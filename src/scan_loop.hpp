// The scan's inner loop over one buffer of input, written once and compiled
// for each way of building byte masks (plain C++, SSE2, AVX2, AVX-512).
// Everything here has internal linkage on purpose: each engine's file gets its
// own copy, compiled for its own instruction set, and the linker can never
// swap an AVX2 copy into the plain path.
#pragma once

#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "scan.hpp"
#include "search.hpp"

inline constexpr size_t NO_NUL = SIZE_MAX;
// Up to this length the mask filter and word compares find the pattern;
// longer patterns go to Two-Way so that hostile input cannot make the
// verification quadratic.
inline constexpr size_t FILTER_PATTERN_LIMIT = 32;
inline constexpr size_t FILTER_WORDS = FILTER_PATTERN_LIMIT / 8;

// What the scan looks for, fixed for the run.
struct pattern_filter {
    const char *pattern;
    size_t length;
    bool can_match;    // false when a newline stands before the pattern's last byte
    bool use_two_way;  // long patterns: the mask filter would verify too much
    size_t offset_1, offset_2;  // where the filter looks for the pattern's two rarest bytes
    char byte_1, byte_2;
    // The pattern in 8-byte words, zero-padded, and masks of the bytes that
    // count: a candidate is verified by one masked compare per word.
    size_t word_count;
    uint64_t words[FILTER_WORDS], word_masks[FILTER_WORDS];
    two_way_plan plan;
};

struct count_progress {
    int64_t match_count;   // lines that held the pattern and whose newline has been seen
    bool in_matched_line;  // the line still open holds the pattern
    bool sparse;           // few chunks of the last stretch scanned held the pattern's rarest byte
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
extern const buffer_scanner avx512_scanner;

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
// How many chunks the choice between the two ways of counting looks at.
inline constexpr size_t SAMPLE_CHUNKS = 64;

inline unsigned lowest_bit_index(uint64_t bits)
{
    return static_cast<unsigned>(__builtin_ctzll(bits));
}

// The lowest set bit's index, or CHUNK when there is none: one tzcnt where
// the engine is built for BMI (the compiler does not see that on its own).
inline unsigned lowest_bit_or_chunk(uint64_t bits)
{
#if defined(__BMI__) && defined(__x86_64__)
    return static_cast<unsigned>(_tzcnt_u64(bits));
#else
    return bits ? lowest_bit_index(bits) : static_cast<unsigned>(CHUNK);
#endif
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
// Out of line: it is called rarely, from every copy of scan_chunk.
[[gnu::noinline]] void capture_chunk(capture_progress &capture, const char *buffer, size_t chunk_start,
                                     size_t chunk_end, uint64_t newlines, uint64_t nuls)
{
    if (nuls)
        refresh_next_nul(capture, chunk_start, nuls);
    size_t room = CAPTURE_LIMIT - 1 - capture.length;
    // With less room than a chunk, a chunk of several short lines is usually
    // settled at once: no NUL, the first line too long to fit yet not cut,
    // and no two newlines close enough to hold a line that fits.
    if (room < CHUNK && capture.next_nul == NO_NUL && newlines) {
        size_t first_length = chunk_start + lowest_bit_index(newlines) + 1 - capture.piece_start;
        if (first_length > room && first_length <= PIECE_LIMIT && !(newlines & newlines_within(newlines, room))) {
            capture.piece_start = chunk_start + CHUNK - static_cast<size_t>(__builtin_clzll(newlines));
            return;
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

// One masked compare settles patterns of up to 8 bytes (the default is 8),
// with no branch; longer ones compare their other words behind one
// well-predicted branch. No call: a call here would make the compiler save
// the loop's vector registers around it. The buffer's slack makes the loads
// safe near its end.
inline bool pattern_at(const pattern_filter &filter, const char *where)
{
    uint64_t word;
    std::memcpy(&word, where, sizeof word);
    uint64_t differ = (word & filter.word_masks[0]) ^ filter.words[0];
    if (__builtin_expect(filter.word_count > 1, 0)) {
        for (size_t i = 1; i < filter.word_count; i++) {
            std::memcpy(&word, where + 8 * i, sizeof word);
            differ |= (word & filter.word_masks[i]) ^ filter.words[i];
        }
    }
    return differ == 0;
}

// The candidates (start positions where both rare bytes sit where the
// pattern has them) where the whole pattern is found.
inline uint64_t verified_matches(const pattern_filter &filter, const char *chunk, uint64_t candidates)
{
    uint64_t matches = 0;
    for (; candidates; candidates &= candidates - 1) {
        if (pattern_at(filter, chunk + lowest_bit_index(candidates)))
            matches |= candidates & (~candidates + 1);
    }
    return matches;
}

// Counts each line that holds a match once, at its newline, without a branch
// per line: adding the match bits to the mask of non-newline bytes carries
// each match up through the rest of its line, so the sum has a bit at every
// newline whose line held a match. The carry into bit 0 is the open line's
// match from the chunks before, and the carry out of bit 63 the open line's
// match for the chunks after.
inline void count_lines(int64_t &match_count, bool &in_matched_line, uint64_t newlines, uint64_t matches,
                        uint64_t fresh)
{
    const uint64_t inside = ~newlines;
#if defined(__x86_64__)
    unsigned long long sum;
    const bool carry = _addcarry_u64(in_matched_line, inside, matches & inside, &sum);
#else
    uint64_t sum;
    bool carry = __builtin_add_overflow(inside, matches & inside, &sum);
    carry |= __builtin_add_overflow(sum, uint64_t{in_matched_line}, &sum);
#endif
    // A match on a newline byte itself (the pattern "\n") ends its own line.
    match_count += __builtin_popcountll((sum | matches) & newlines & fresh);
    in_matched_line = carry;
}

// Long patterns: Two-Way from one match's line end to the next match.
inline void count_two_way(count_progress &count, const pattern_filter &filter, const char *buffer, size_t length)
{
    size_t at = 0;
    while (at < length) {
        if (count.in_matched_line) {
            const void *newline = std::memchr(buffer + at, '\n', length - at);
            if (!newline)
                return;
            at = static_cast<size_t>(static_cast<const char *>(newline) - buffer) + 1;
            count.match_count++;
            count.in_matched_line = false;
            continue;
        }
        const char *hit = find_two_way(filter.plan, buffer + at, length - at);
        if (!hit)
            return;
        count.in_matched_line = true;
        at = static_cast<size_t>(hit - buffer) + filter.length - 1;
    }
}

// The chunk's candidates: the start positions where both of the pattern's
// rarest bytes sit where the pattern has them.
template <class engine>
inline uint64_t candidates_at(const pattern_filter &filter, const char *chunk)
{
    return engine::both_mask(chunk + filter.offset_1, filter.byte_1, chunk + filter.offset_2, filter.byte_2);
}

// One chunk of 64 bytes at buffer[at], in full. `valid` marks the bytes
// before the buffer's end, `fresh` those the capture and the count have not
// seen yet (the carry was seen in the previous buffer), `candidate_bits` the
// positions where a whole pattern fits in the buffer; in the middle of a
// buffer all three are all ones and fold away.
template <class engine, bool CAPTURING, bool FILTER>
[[gnu::always_inline]] inline void scan_chunk(count_progress &count, capture_progress &capture,
                                              const pattern_filter &filter, const char *buffer, size_t at,
                                              size_t chunk_end, uint64_t valid, uint64_t fresh,
                                              uint64_t candidate_bits)
{
    const char *chunk = buffer + at;
    const uint64_t newlines = engine::equal_mask(chunk, '\n') & valid;
    if (CAPTURING) {
        uint64_t nuls = engine::has_nul(chunk) ? engine::equal_mask(chunk, '\0') & valid & fresh : 0;
        capture_chunk(capture, buffer, at, chunk_end, newlines & fresh, nuls);
    }
    if (!FILTER) {
        if (filter.length == 0)
            count.match_count += __builtin_popcountll(newlines & fresh);
        return;
    }
    // Only where a whole pattern fits may the loads reach past the chunk.
    const uint64_t candidates = candidate_bits ? candidates_at<engine>(filter, chunk) & candidate_bits : 0;
    count_lines(count.match_count, count.in_matched_line, newlines, verified_matches(filter, chunk, candidates),
                fresh);
}

// The capture's steady state once it is nearly full: the pieces that end are
// too long to fit, and none is cut at PIECE_LIMIT. A chunk with no NUL and at
// most one newline that keeps to it only moves piece_start, and the bulk loop
// settles it without calling capture_chunk.
struct steady_capture {
    // The shortest piece that cannot fit; more than any piece length when a
    // NUL in the open piece may shorten it to fit, or any piece may fit.
    size_t too_long;

    explicit steady_capture(const capture_progress &capture)
    {
        size_t room = CAPTURE_LIMIT - 1 - capture.length;
        bool possible = capture.next_nul == NO_NUL && room < PIECE_LIMIT;
        too_long = possible ? room + 1 : SIZE_MAX;
    }

    // Whether a chunk with these newlines keeps to the steady state, given
    // where the open piece starts; moves piece_start past the chunk's newline
    // either way, leaving it for capture_chunk to redo when the answer is no.
    // piece_start's update does not wait for the test: each chunk's work
    // waits on it, and a version where it did took the sparse listing's scan
    // in memory from 0.040 s to 0.066 s per GiB.
    bool settles(size_t &piece_start, size_t chunk_start, uint64_t newlines) const
    {
        // Just past the first newline, or one past the chunk's end without
        // one; either way the piece is not cut here if this length is at
        // most PIECE_LIMIT.
        const size_t piece_end = chunk_start + lowest_bit_or_chunk(newlines) + 1;
        const size_t piece_length = piece_end - piece_start;
        const size_t shortest = newlines ? too_long : 0;
        piece_start = newlines ? piece_end : piece_start;
        return ((newlines & (newlines - 1)) == 0) & (piece_length <= PIECE_LIMIT) & (piece_length >= shortest);
    }
};

// The candidates that hold the whole pattern, with no branch for the first:
// in a dense listing whether a chunk holds a match is hard to predict. Only a
// chunk with two or more candidates, which needs lines shorter than a chunk,
// takes the loop.
inline uint64_t verified_matches_unbranched(const pattern_filter &filter, const char *chunk, uint64_t candidates)
{
    const uint64_t first = candidates & (~candidates + 1);
    // An absent candidate reads just past the chunk and is masked off.
    uint64_t matches = first & (uint64_t{0} - pattern_at(filter, chunk + lowest_bit_or_chunk(first)));
    const uint64_t more = candidates ^ first;
    if (__builtin_expect(more != 0, 0))
        matches |= verified_matches(filter, chunk, more);
    return matches;
}

// Whole chunks of buffer[at, end), every byte valid and fresh and a possible
// start, as long as the capture keeps to its steady state; returns where it
// stopped, at the end or at a chunk that capture_chunk must see, not yet
// counted. Nothing here calls a function: a call inside the loop would leave
// the loop only the registers a call preserves, and its state would spill to
// the stack.
//
// There are two ways to count. Where few chunks hold the pattern's rarest
// byte (SPARSE), a whole-chunk test for it is cheaper than its mask, and the
// branch on it is well predicted. Where many do, that branch is not, and every
// chunk goes through the same branch-free count: on the dense benchmark
// listing the whole run took 0.25 s against 0.29 s with the branch (medians
// of 21). The loop counts the chunks with the rarest byte (the dense way:
// with both rare bytes) so that the next stretch can take the better way.
template <class engine, bool CAPTURING, bool FILTER, bool SPARSE>
[[gnu::noinline]] size_t scan_settled(count_progress &count, capture_progress &capture,
                                      const pattern_filter &filter_in, const char *buffer, size_t at, size_t end)
{
    // A copy that no store through a pointer can reach, so its fields stay put.
    const pattern_filter filter = filter_in;
    int64_t match_count = count.match_count;
    bool in_matched_line = count.in_matched_line;
    size_t rare_chunks = 0;
    const size_t start = at;
    size_t piece_start = capture.piece_start;
    const steady_capture steady(capture);
    for (; at < end; at += CHUNK) {
        const char *chunk = buffer + at;
        const uint64_t newlines = engine::equal_mask(chunk, '\n');
        if (CAPTURING) {
            const size_t open_piece_start = piece_start;
            if (__builtin_expect(!steady.settles(piece_start, at, newlines), 0) ||
                __builtin_expect(engine::has_nul(chunk), 0)) {
                piece_start = open_piece_start;
                break;
            }
        }
        if (!FILTER) {
            if (filter.length == 0)
                match_count += __builtin_popcountll(newlines);
        } else if (!SPARSE) {
            const uint64_t candidates = candidates_at<engine>(filter, chunk);
            rare_chunks += candidates != 0;
            count_lines(match_count, in_matched_line, newlines,
                        verified_matches_unbranched(filter, chunk, candidates), ~uint64_t{0});
        } else if (engine::has_byte(chunk + filter.offset_1, filter.byte_1)) {
            rare_chunks++;
            const uint64_t candidates = candidates_at<engine>(filter, chunk);
            count_lines(match_count, in_matched_line, newlines, verified_matches(filter, chunk, candidates),
                        ~uint64_t{0});
        } else if (in_matched_line && newlines) {
            // Without a candidate only the line already matched can end here.
            match_count++;
            in_matched_line = false;
        }
    }
    count.match_count = match_count;
    count.in_matched_line = in_matched_line;
    // A short stretch says little about the input.
    const size_t chunks = (at - start) / CHUNK;
    if (chunks >= SAMPLE_CHUNKS)
        count.sparse = rare_chunks * 8 < chunks;
    capture.piece_start = piece_start;
    return at;
}

// The chunks of buffer[0, length) from `at` on, while the capture stays as
// CAPTURING says. Returns where it stopped.
template <class engine, bool CAPTURING, bool FILTER>
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
        scan_chunk<engine, CAPTURING, FILTER>(count, capture, filter, buffer, at, end, first_bits(length - at),
                                              ~first_bits(new_from - at), candidates);
    }
    // The bulk: every byte valid, fresh and a possible start.
    size_t bulk_end = whole_end & ~(CHUNK - 1);
    while (at < bulk_end && STILL_CAPTURING) {
        at = !FILTER || count.sparse
                 ? scan_settled<engine, CAPTURING, FILTER, true>(count, capture, filter, buffer, at, bulk_end)
                 : scan_settled<engine, CAPTURING, FILTER, !FILTER>(count, capture, filter, buffer, at, bulk_end);
        if (at < bulk_end) {
            scan_chunk<engine, CAPTURING, FILTER>(count, capture, filter, buffer, at, at + CHUNK, ALL, ALL, ALL);
            at += CHUNK;
        }
    }
    // The last chunks, where the buffer or the possible starts end.
    for (; at < length && STILL_CAPTURING; at += CHUNK) {
        size_t end = at + CHUNK < length ? at + CHUNK : length;
        uint64_t candidates = at < candidate_end ? first_bits(candidate_end - at) : 0;
        scan_chunk<engine, CAPTURING, FILTER>(count, capture, filter, buffer, at, end, first_bits(length - at), ALL,
                                              candidates);
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
// The engine gives equal_mask (bit i set where chunk[i] is the byte),
// both_mask (bit i set where two byte runs both hold their bytes), and
// has_byte and has_nul (whether any of 64 bytes is that byte, or a NUL:
// cheaper than the masks, and the answer is usually no).
template <class engine, bool FILTER>
void scan_with(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    // Private copies whose addresses never escape let the compiler keep the
    // hot fields in registers; stores into the capture could otherwise alias them.
    const pattern_filter filter = state.filter;
    count_progress count = state.count;
    capture_progress capture = state.capture;
    size_t at = 0;
    if (capture.capturing)
        at = scan_chunks<engine, true, FILTER>(count, capture, filter, buffer, length, new_from, at);
    // The capture filled up in the chunk before `at`; go on without it.
    if (FILTER || filter.length == 0)
        scan_chunks<engine, false, FILTER>(count, capture, filter, buffer, length, new_from, at);
    if (filter.can_match && filter.use_two_way)
        count_two_way(count, filter, buffer, length);
    state.count = count;
    state.capture = capture;
}

template <class engine>
void scan_buffer(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    const pattern_filter &filter = state.filter;
    if (filter.can_match && !filter.use_two_way && filter.length > 0)
        scan_with<engine, true>(state, buffer, length, new_from);
    else
        scan_with<engine, false>(state, buffer, length, new_from);
}

}  // namespace
