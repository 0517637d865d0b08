// The capture's loops over one buffer: the pieces a 511-byte fgets would
// return, kept while they fit. Written once over an engine's interface.
#pragma once

#include <cstring>

#include "platform/bits.hpp"
#include "scan/engines.hpp"

namespace {

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
    const size_t too_long = CAPTURE_LIMIT - capture.length;
    // While a whole piece may still fit, pieces are followed one by one.
    if (capture.piece_may_hold_nul || too_long > PIECE_LIMIT)
        return at;
    size_t piece_start = capture.piece_start;
    for (; at + CHUNK <= end; at += CHUNK) {
        const uint64_t newlines = engine::equal_mask(buffer + at, '\n');
        // Past the first newline, or the chunk's end without one; no branch.
        const size_t piece_end = at + lowest_bit(newlines | uint64_t{1} << 63) + 1;
        // Settled: at most one newline, and the piece up to it (or to the
        // chunk's end) not cut; one that ends here is also too long to fit.
        // Its length in [shortest, PIECE_LIMIT] is one unsigned compare: the
        // AVX2 engine's sparse scan of 8 MiB in memory took 0.60 ms so,
        // 0.65 ms with a test for each bound (scan_benchmark, medians).
        //
        // Why that compare is right: for unsigned x and lo <= hi, x - lo <=
        // hi - lo holds exactly when lo <= x <= hi, since an x below lo wraps
        // round to more than hi - lo. Here x is the piece's length, never
        // negative (piece_start <= at < piece_end), and lo <= hi because
        // shortest is 0 or too_long, which the return above keeps at or
        // under PIECE_LIMIT. A piece shorter than too_long would fit (the
        // capture takes one shorter than the room left), one longer than
        // PIECE_LIMIT is cut here: either is left to capture_chunk.
        // The `&` below joins two bools already computed, so it equals
        // `&&` without a second branch.
        const size_t shortest = newlines ? too_long : 0;
        const bool in_range = piece_end - piece_start - shortest <= PIECE_LIMIT - shortest;
        if (!(((newlines & (newlines - 1)) == 0) & in_range) || (!nul_free && engine::has_byte(buffer + at, '\0')))
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

}  // namespace
