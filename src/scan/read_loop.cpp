// The input scan: reads large blocks into one fixed buffer, hands each
// buffer to the engine, and carries what the next block still needs to its
// front.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.hpp"
#include "scan/capture.hpp"
#include "scan/engines.hpp"
#include "scan/scan.hpp"

namespace {

// 256 KiB reads, half the L2 cache of the smaller server cores (AMD's Zen 2
// and 3, the EPYCs with AVX2 and no AVX-512), so the kernel's copy and the
// scan's two passes over a block meet it in L2. A block as large as L2 costs:
// here (1 MiB of L2) the AVX2 engine's sparse 1 GiB run took 0.124 s with
// 1 MiB reads against 0.114 s with 512 KiB, while 256 KiB and 512 KiB were
// level (0.97 to 1.02 in three runs; paired runs, medians of 21 to 31).
// Smaller reads, as ripgrep's 64 KiB, lose: on a Zen 5 EPYC the sparse
// listing took 1.20 of 256 KiB's time with 64 KiB, 1.06 with 128 KiB (15 pairs).
constexpr size_t BLOCK_SIZE = size_t{256} * 1024;
// The carry is the open line's last m - 1 bytes, or the open piece of at most
// PIECE_LIMIT bytes, whichever reaches further back; the next read fills the rest.
static_assert(BLOCK_SIZE >= 2 * PATTERN_LIMIT, "a read must have room past the carry");

// One buffer for the whole run; the program has one thread. Page-aligned, as
// madvise needs.
alignas(PAGE_SIZE) char buffer[BLOCK_SIZE + BUFFER_SLACK];

// The engine's place in ENGINES (the last, the plain engine's, for one this
// build lacks) or, with `running`, the first place from there on whose
// engine this processor runs; the plain engine runs everywhere.
size_t listed_at(scan_engine engine, bool running)
{
    size_t i = 0;
    while (i < ENGINE_COUNT - 1 && ENGINES[i].engine != engine)
        i++;
    while (running && i < ENGINE_COUNT - 1 && !engine_runs(ENGINES[i]))
        i++;
    return i;
}

// Moves to the buffer's front what the next buffer still needs: the last
// m - 1 bytes while the open line is unmatched (a match may straddle the
// read), and the open piece while the capture may still take it. Returns how
// many bytes were kept.
size_t carry_over(scan_state &state, size_t length)
{
    size_t m = 0;  // the longest form that can match
    for (size_t i = 0; i < state.form_count; i++) {
        if (state.filters[i].can_match && state.filters[i].length > m)
            m = state.filters[i].length;
    }
    capture_progress &capture = state.capture;
    size_t keep_from = !state.count.in_matched_line && m > 1 ? length - std::min(length, m - 1) : length;
    if (capture_has_room(capture) && capture.piece_start < keep_from)
        keep_from = capture.piece_start;
    std::memmove(buffer, buffer + keep_from, length - keep_from);
    capture.piece_start = capture.piece_start > keep_from ? capture.piece_start - keep_from : 0;
    return length - keep_from;
}

}  // namespace

bool pattern_fits(const pattern_forms &forms)
{
    for (size_t i = 0; i < forms.count; i++) {
        if (std::strlen(forms.form[i]) > PATTERN_LIMIT)
            return false;
    }
    return true;
}

const char *engine_name(scan_engine engine)
{
    return ENGINES[listed_at(engine, false)].name;
}

scan_engine best_engine()
{
    static const scan_engine best = ENGINES[listed_at(ENGINES[0].engine, true)].engine;
    return best;
}

scan_result scan_input(const pattern_forms &forms, block_reader read_block, void *source, scan_engine engine)
{
    scan_result result{};
    const engine_entry &chosen = ENGINES[listed_at(engine, true)];
    result.engine = chosen.engine;
    if (!pattern_fits(forms)) {
        result.read_error = E2BIG;
        return result;
    }
    scan_state state{{}, forms.count, {0, false, false}, {result.captured, 0, 0, false}};
    for (size_t i = 0; i < forms.count; i++)
        state.filters[i] = plan_filter(forms.form[i]);
    size_t carried = 0;
    bool line_open = false;  // bytes have come since the last newline
    // Resident before the first read, so memory is the same for any input.
    platform_make_resident(buffer, sizeof buffer);

    for (;;) {
        const long got = read_block(source, buffer + carried, BLOCK_SIZE - carried);
        if (got <= 0) {
            if (got < 0)
                result.read_error = errno ? errno : EIO;
            break;
        }
        const size_t length = carried + static_cast<size_t>(got);
        line_open = buffer[length - 1] != '\n';
        chosen.scanner(state, buffer, length, carried);
        carried = carry_over(state, length);
    }

    capture_progress &capture = state.capture;
    if (capture_has_room(capture) && capture.piece_start < carried)
        end_piece(capture, buffer, carried, capture.piece_may_hold_nul);
    // A last line without a newline counts as a line; the empty pattern is in it.
    const bool last_counts = state.count.in_matched_line || (state.filters[0].length == 0 && line_open);
    result.match_count = state.count.match_count + (last_counts ? 1 : 0);
    result.captured[capture.length] = '\0';
    return result;
}
