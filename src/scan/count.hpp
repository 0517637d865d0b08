// The count's loops over one buffer: candidates from the pattern's two
// rarest bytes, verified and counted once per line; Two-Way for long
// patterns and for several forms. Written once over an engine's interface.
#pragma once

#include <algorithm>
#include <cstring>

#include "platform/bits.hpp"
#include "scan/engines.hpp"

namespace {

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
    size_t candidate_chunks = 0;  // chunks looked at that held a candidate
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
        candidate_chunks += candidates != 0;
        // The first candidate with no branch. When there is none, `first` is
        // 0, the pattern is compared at the chunk's last byte, and the mask
        // of 0s throws the answer away. That compare reads up to
        // FILTER_PATTERN_LIMIT bytes from chunk + 63, past `length` in the
        // buffer's last chunk: safe because every scan buffer has
        // BUFFER_SLACK (a chunk and a filter pattern) readable bytes after
        // its end, and only the mask decides what counts.
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
    count.dense = candidate_chunks * 8 > length / CHUNK;
}

// The empty pattern is in every line.
template <class engine>
void count_newlines(count_progress &count, const char *buffer, size_t length)
{
    for (size_t at = 0; at < length; at += CHUNK)
        count.match_count += count_bits(engine::equal_mask(buffer + at, '\n') & first_bits(length - at));
}

// Long patterns, and several forms of one pattern (a word outside ASCII on
// Windows): Two-Way from each match's line end to the next match, and a line
// counts once when it holds any form. Each form is searched from where its
// last hit was passed, so each reads the buffer once however many lines it
// holds.
//
// Which hits count: only those that end in the new bytes (from new_from on).
// The carried bytes were searched with every form in the buffer before, so a
// hit wholly inside them was found then, and its line counted or marked as
// the open line's. Searching them again could count a line twice: an
// unmatched open line shorter than the longest form carries bytes of the
// lines before it, already counted, where a shorter form may sit. No hit is
// lost: one that ends in the new bytes starts at most m - 1 bytes back, and
// the carry holds the longest form's m - 1 bytes. When the open line was
// already matched, the carry holds only the capture's open piece, which has
// no newline, so the skip to the line's end finds the line's own.
inline void count_two_way(count_progress &count, const pattern_filter *filters, size_t form_count, const char *buffer,
                          size_t length, size_t new_from)
{
    const char *next_hit[FORM_LIMIT] = {};
    bool searched_out[FORM_LIMIT] = {};
    for (size_t at = 0; at < length;) {
        if (count.in_matched_line) {  // counted at its newline; the next line starts past it
            const void *newline = std::memchr(buffer + at, '\n', length - at);
            if (!newline)
                return;
            count.match_count++;
            count.in_matched_line = false;
            at = static_cast<size_t>(static_cast<const char *>(newline) - buffer) + 1;
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

}  // namespace
