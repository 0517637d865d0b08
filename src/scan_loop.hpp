// The scan's two loops over one buffer, the count and the capture, written
// once over a small engine interface and compiled in each engine's file.
// The functions have internal linkage on purpose: each engine's file gets its
// own copy, built for its own instruction set, that no other file can call.
#pragma once

#include <algorithm>
#include <cstring>

#include "scan.hpp"
#include "search.hpp"

inline constexpr size_t CHUNK = 64;
// Up to this length candidates are verified by masked word compares; longer
// patterns go to Two-Way, so that hostile input cannot make the verification
// quadratic.
inline constexpr size_t FILTER_PATTERN_LIMIT = 32;
inline constexpr size_t FILTER_WORDS = FILTER_PATTERN_LIMIT / 8;
// The buffer's bytes past its end that loads may read: a chunk from the last
// candidate start, at most a pattern's length before the end.
inline constexpr size_t BUFFER_SLACK = CHUNK + FILTER_PATTERN_LIMIT;

// What the count looks for, fixed for the run.
struct pattern_filter {
    const char *pattern;
    size_t length;
    bool can_match;             // false when a newline stands before the pattern's last byte
    size_t offset_1, offset_2;  // where the pattern's two rarest bytes sit in it
    char byte_1, byte_2;
    // The pattern in 8-byte words, zero-padded, and masks of the bytes that count.
    size_t word_count;
    uint64_t words[FILTER_WORDS], word_masks[FILTER_WORDS];
    two_way_plan plan;
};

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

namespace {

inline uint64_t first_bits(size_t count)
{
    return count >= CHUNK ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
}

// x86 files built without -mpopcnt (the plain and SSE2 engines) would call
// libgcc for __builtin_popcountll: 9% of the plain engine's time on the
// dense listing. Elsewhere the builtin is an instruction or two.
inline int count_bits(uint64_t bits)
{
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__POPCNT__)
    bits -= (bits >> 1) & 0x5555555555555555;
    bits = (bits & 0x3333333333333333) + ((bits >> 2) & 0x3333333333333333);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0F;
    return static_cast<int>((bits * 0x0101010101010101) >> 56);
#else
    return __builtin_popcountll(bits);
#endif
}

inline size_t lowest_bit(uint64_t bits)
{
    return static_cast<size_t>(__builtin_ctzll(bits));
}

// One masked compare settles a pattern of up to 8 bytes (the default is 8);
// longer ones compare their other words behind a branch that goes the same
// way all run. The buffer's slack makes the loads safe.
inline bool pattern_at(const pattern_filter &filter, const char *where)
{
    uint64_t word;
    std::memcpy(&word, where, sizeof word);
    uint64_t differ = (word & filter.word_masks[0]) ^ filter.words[0];
    for (size_t i = 1; i < filter.word_count; i++) {
        std::memcpy(&word, where + 8 * i, sizeof word);
        differ |= (word & filter.word_masks[i]) ^ filter.words[i];
    }
    return differ == 0;
}

// Where the next chunk that may hold a candidate starts, from `at` on: the
// sparse way's own loop, as tight as memchr's. An engine without vector
// compares takes the C library's memchr, which is vector code on every
// system: the plain engine's sparse run took 0.17 s of user time so, 0.20 s
// with its own loop (medians of seven).
template <class engine>
size_t skip_to_candidate(const pattern_filter &filter, const char *buffer, size_t at, size_t starts)
{
    if constexpr (engine::PREFERS_MEMCHR) {
        if (at >= starts)
            return at;
        const void *found = std::memchr(buffer + at + filter.offset_1, filter.byte_1, starts - at);
        return found ? static_cast<size_t>(static_cast<const char *>(found) - buffer) - filter.offset_1 : starts;
    } else {
        while (at < starts && !engine::has_byte(buffer + at + filter.offset_1, filter.byte_1))
            at += CHUNK;
        return at;
    }
}

// Counts each line that holds a match once, at its newline, with no branch
// per line: adding the match bits to the mask of non-newline bytes carries
// each match up through the rest of its line, so the sum has a bit at every
// newline whose line held a match. The carry into bit 0 is the open line's
// match from before, the carry out of bit 63 the open line's match for after.
inline void count_lines(int64_t &match_count, bool &in_matched_line, uint64_t newlines, uint64_t matches)
{
    const uint64_t inside = ~newlines;
    uint64_t sum;
    bool carry = __builtin_add_overflow(inside, matches & inside, &sum);
    carry |= __builtin_add_overflow(sum, uint64_t{in_matched_line}, &sum);
    // A match on a newline itself (the pattern "\n") ends its own line.
    match_count += count_bits((sum | matches) & newlines);
    in_matched_line = carry;
}

// The count: candidates are the starts where the pattern's two rarest bytes
// both sit; they are verified, and each line with a match is counted at its
// newline. Where few chunks hold candidates, the others are skipped in a loop
// of their own (the sparse listing's whole run: 0.229 s against 0.322 s
// without). Where many do, that loop's branch is hard to predict, so every
// chunk takes the same branch-free way (the dense listing: 0.324 s against
// 0.394 s). Each buffer picks the way for the next. Candidates past `starts`
// would run off the buffer; the carry keeps them.
template <class engine>
void count_matches(count_progress &count, const pattern_filter &filter, const char *buffer, size_t length)
{
    const size_t starts = length >= filter.length ? length - filter.length + 1 : 0;
    const bool dense = count.dense;
    int64_t match_count = count.match_count;
    bool in_matched_line = count.in_matched_line;
    size_t rare_chunks = 0;
    for (size_t at = 0; at < length; at += CHUNK) {
        if (!dense && !in_matched_line) {
            at = skip_to_candidate<engine>(filter, buffer, at, starts);
            if (at >= starts)
                break;
        }
        const char *chunk = buffer + at;
        uint64_t candidates = 0;
        if (at < starts)
            candidates = engine::equal_mask(chunk + filter.offset_1, filter.byte_1) &
                         engine::equal_mask(chunk + filter.offset_2, filter.byte_2) & first_bits(starts - at);
        rare_chunks += candidates != 0;
        // The first candidate with no branch: without one, the chunk's last
        // byte is compared and masked off.
        const uint64_t first = candidates & (~candidates + 1);
        uint64_t matches = first & (uint64_t{0} - pattern_at(filter, chunk + lowest_bit(first | uint64_t{1} << 63)));
        // More candidates come only from lines shorter than a chunk.
        for (candidates ^= first; candidates; candidates &= candidates - 1) {
            if (pattern_at(filter, chunk + lowest_bit(candidates)))
                matches |= candidates & (~candidates + 1);
        }
        const uint64_t newlines = engine::equal_mask(chunk, '\n') & first_bits(length - at);
        count_lines(match_count, in_matched_line, newlines, matches);
    }
    count.match_count = match_count;
    count.in_matched_line = in_matched_line;
    count.dense = rare_chunks * 8 > length / CHUNK;
}

// The empty pattern is in every line.
template <class engine>
void count_newlines(count_progress &count, const char *buffer, size_t length)
{
    for (size_t at = 0; at < length; at += CHUNK)
        count.match_count += count_bits(engine::equal_mask(buffer + at, '\n') & first_bits(length - at));
}

// Counts the matched line that is open at `at` at its newline, and returns
// where the next line starts, or `length` when the line goes on past it.
inline size_t end_matched_line(count_progress &count, const char *buffer, size_t at, size_t length)
{
    const void *newline = std::memchr(buffer + at, '\n', length - at);
    if (!newline)
        return length;
    count.match_count++;
    count.in_matched_line = false;
    return static_cast<size_t>(static_cast<const char *>(newline) - buffer) + 1;
}

// Long patterns: Two-Way from each match's line end to the next match.
inline void count_two_way(count_progress &count, const pattern_filter &filter, const char *buffer, size_t length)
{
    for (size_t at = 0; at < length;) {
        if (count.in_matched_line) {
            at = end_matched_line(count, buffer, at, length);
        } else {
            const char *hit = find_two_way(filter.plan, buffer + at, length - at);
            if (!hit)
                return;
            count.in_matched_line = true;
            at = static_cast<size_t>(hit - buffer) + filter.length - 1;
        }
    }
}

// Several forms of one pattern (a word outside ASCII on Windows): a line
// counts once when it holds any. Each form is searched with Two-Way from
// where its last hit was passed, so each reads the buffer once however many
// lines it holds. Only hits that end in the new bytes count: the carried
// bytes may hold a shorter form in a line already counted. ASCII patterns
// never come this way.
inline void count_any_form(count_progress &count, const pattern_filter *filters, size_t form_count, const char *buffer,
                           size_t length, size_t new_from)
{
    const char *next_hit[FORM_LIMIT] = {};
    bool searched_out[FORM_LIMIT] = {};
    for (size_t at = 0; at < length;) {
        if (count.in_matched_line) {
            at = end_matched_line(count, buffer, at, length);
            continue;
        }
        size_t first = 0;
        for (size_t i = 0; i < form_count; i++) {
            const size_t m = filters[i].length;
            const size_t from = std::max(at, new_from >= m ? new_from - m + 1 : 0);
            if (!filters[i].can_match || searched_out[i])
                continue;
            if (!next_hit[i] || next_hit[i] < buffer + from) {
                next_hit[i] = from < length ? find_two_way(filters[i].plan, buffer + from, length - from) : nullptr;
                searched_out[i] = !next_hit[i];
            }
            if (next_hit[i] && (!next_hit[first] || next_hit[i] < next_hit[first]))
                first = i;
        }
        if (!next_hit[first])
            return;
        count.in_matched_line = true;
        at = static_cast<size_t>(next_hit[first] - buffer) + filters[first].length - 1;
    }
}

// Ends the open piece at `end`. Like fgets into a string, it is seen only up
// to its first NUL, and goes into the capture only when that much still fits.
inline void end_piece(capture_progress &capture, const char *buffer, size_t end, bool may_hold_nul)
{
    const char *piece = buffer + capture.piece_start;
    size_t visible = end - capture.piece_start;
    const void *nul = may_hold_nul ? std::memchr(piece, '\0', visible) : nullptr;
    if (nul)
        visible = static_cast<size_t>(static_cast<const char *>(nul) - piece);
    if (visible < CAPTURE_LIMIT - capture.length) {
        std::memcpy(capture.captured + capture.length, piece, visible);
        capture.length += visible;
    }
    capture.piece_start = end;
}

// The pieces that end in the chunk buffer[at, end): at a newline, or where
// a line reaches PIECE_LIMIT bytes.
template <class engine>
void capture_chunk(capture_progress &capture, const char *buffer, size_t at, size_t end)
{
    const bool nul_here = engine::has_byte(buffer + at, '\0');
    bool may_hold_nul = capture.piece_may_hold_nul || nul_here;
    uint64_t newlines = engine::equal_mask(buffer + at, '\n') & first_bits(end - at);
    for (;;) {
        const size_t piece_end = newlines ? at + lowest_bit(newlines) + 1 : end;
        while (piece_end - capture.piece_start > PIECE_LIMIT) {
            end_piece(capture, buffer, capture.piece_start + PIECE_LIMIT, may_hold_nul);
            may_hold_nul = nul_here;
        }
        if (!newlines)
            break;
        end_piece(capture, buffer, piece_end, may_hold_nul);
        may_hold_nul = nul_here;
        newlines &= newlines - 1;
    }
    capture.piece_may_hold_nul = may_hold_nul;
}

// Whole chunks that only move the open piece on, as nearly all do once the
// capture is nearly full: no NUL, at most one newline, and the piece that
// ends there too long to fit yet not cut. Returns where it stopped. Settling
// them here rather than piece by piece took the sparse listing's whole run
// from 0.250 s to 0.229 s, the dense one's from 0.348 s to 0.324 s.
template <class engine>
size_t skip_unfitting(capture_progress &capture, const char *buffer, size_t at, size_t end, bool nul_free)
{
    if (capture.piece_may_hold_nul)
        return at;
    const size_t too_long = CAPTURE_LIMIT - capture.length;
    size_t piece_start = capture.piece_start;
    for (; at + CHUNK <= end; at += CHUNK) {
        const uint64_t newlines = engine::equal_mask(buffer + at, '\n');
        // Past the first newline, or the chunk's end without one; no branch.
        const size_t piece_end = at + lowest_bit(newlines | uint64_t{1} << 63) + 1;
        const size_t length = piece_end - piece_start;
        // Non-short-circuit &, |: one branch for the whole test.
        const bool one_piece_at_most = (newlines & (newlines - 1)) == 0;
        const bool not_cut = length <= PIECE_LIMIT;
        const bool piece_stays_open = newlines == 0;
        const bool ends_too_long_to_fit = length >= too_long;
        const bool settled = one_piece_at_most & not_cut & (piece_stays_open | ends_too_long_to_fit);
        if (!settled || (!nul_free && engine::has_byte(buffer + at, '\0')))
            break;
        piece_start = newlines ? piece_end : piece_start;
    }
    capture.piece_start = piece_start;
    return at;
}

// The capture follows the pieces of buffer[at, end) while any can still fit.
template <class engine>
void capture_pieces(capture_progress &capture, const char *buffer, size_t at, size_t end)
{
    // For the plain engine one memchr over the new bytes spares the bulk loop
    // a NUL test per chunk: its sparse run took 0.20 s of user time so, 0.22 s
    // without. A vector engine's test costs less than the extra pass.
    bool nul_free = false;
    if constexpr (engine::PREFERS_MEMCHR)
        nul_free = at < end && !std::memchr(buffer + at, '\0', end - at);
    while (at < end && capture_has_room(capture)) {
        at = skip_unfitting<engine>(capture, buffer, at, end, nul_free);
        if (at < end) {
            const size_t chunk_end = at + CHUNK < end ? at + CHUNK : end;
            capture_chunk<engine>(capture, buffer, at, chunk_end);
            at = chunk_end;
        }
    }
}

// Scans buffer[0, length). The bytes before new_from were carried over from
// the previous buffer: the count searches them again, as a match may start
// there, but the capture has seen them.
template <class engine>
void scan_buffer(scan_state &state, const char *buffer, size_t length, size_t new_from)
{
    const pattern_filter &filter = state.filters[0];
    if (state.form_count > 1)
        count_any_form(state.count, state.filters, state.form_count, buffer, length, new_from);
    else if (filter.length == 0)
        count_newlines<engine>(state.count, buffer, length);
    else if (filter.can_match && filter.length > FILTER_PATTERN_LIMIT)
        count_two_way(state.count, filter, buffer, length);
    else if (filter.can_match)
        count_matches<engine>(state.count, filter, buffer, length);
    capture_pieces<engine>(state.capture, buffer, new_from, length);
}

}  // namespace
