// The input scan: reads large blocks into one fixed buffer, carries the
// current line's tail from one block to the next, and hands each buffer to the
// engine's inner loop.
#include "scan.hpp"

#include <cerrno>
#include <cstring>

#include "platform.hpp"
#include "scan_loop.hpp"

namespace {

// 128 KiB reads: large enough that the per-read cost vanishes, small enough
// that the buffer stays in the second-level cache.
constexpr size_t BLOCK_SIZE = 128 * 1024;
// The carry is the pattern's length less one byte, or the open piece of at
// most PIECE_LIMIT - 1 bytes, whichever reaches further back.
constexpr size_t CARRY_LIMIT = PATTERN_LIMIT;
constexpr size_t BUFFER_SIZE = CARRY_LIMIT + BLOCK_SIZE;
// Up to this length the mask filter and a byte compare find the pattern;
// longer patterns go to Two-Way so that hostile input cannot make the
// verification quadratic.
constexpr size_t FILTER_PATTERN_LIMIT = 32;

// One buffer for the whole run; the program has one thread.
alignas(64) char buffer[BUFFER_SIZE + CHUNK];

// How often a byte turns up in listings and text: earlier in the list is more
// common. Bytes not listed are taken as the rarest.
int commonness(unsigned char byte)
{
    static const char ORDER[] = " etaoinsrhldcumfpgwybvk\n0123456789:-./_xjqz"
                                "ETAOINSRHLDCUMFPGWYBVKXJQZ,()[]=\t#'\"";
    const char *found = std::strchr(ORDER, byte);
    if (byte == 0 || !found)
        return 0;
    return static_cast<int>(sizeof ORDER - (found - ORDER));
}

// The filter looks for the pattern's two rarest bytes, not its first and
// last: those are blanks in the default pattern, and blanks are everywhere.
void choose_rare_bytes(scan_state &state)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(state.pattern);
    size_t first = 0;
    for (size_t i = 1; i < state.pattern_length; i++) {
        if (commonness(p[i]) < commonness(p[first]))
            first = i;
    }
    size_t second = first;
    for (size_t i = 0; i < state.pattern_length; i++) {
        if (p[i] != p[first] && (second == first || commonness(p[i]) < commonness(p[second])))
            second = i;
    }
    // A pattern of one byte value repeated: two far-apart places still narrow it down.
    if (second == first && state.pattern_length > 1)
        second = first == state.pattern_length - 1 ? 0 : state.pattern_length - 1;
    state.rare_offset_1 = first;
    state.rare_offset_2 = second;
    state.rare_byte_1 = state.pattern[first];
    state.rare_byte_2 = state.pattern[second];
}

scan_state start_state(const char *pattern, char *captured)
{
    scan_state state{};
    state.pattern = pattern;
    state.pattern_length = std::strlen(pattern);
    const size_t m = state.pattern_length;
    // A line holds at most one newline, at its end, so a pattern with a
    // newline anywhere else can never be found in a line.
    state.pattern_can_match = m <= PATTERN_LIMIT && (m < 2 || !std::memchr(pattern, '\n', m - 1));
    state.use_two_way = m > FILTER_PATTERN_LIMIT;
    if (m > 0)
        choose_rare_bytes(state);
    state.plan = plan_two_way(pattern, m);
    state.captured = captured;
    state.capturing = true;
    state.next_nul = NUL_UNKNOWN;
    return state;
}

buffer_scanner scanner_for(scan_engine engine)
{
    switch (engine) {
    case scan_engine::avx2:
        if (avx2_scanner && platform_has_avx2())
            return avx2_scanner;
        [[fallthrough]];
    case scan_engine::sse2:
        if (sse2_scanner && platform_has_sse2())
            return sse2_scanner;
        [[fallthrough]];
    case scan_engine::plain:
        break;
    }
    return plain_scanner;
}

}  // namespace

bool engine_supported(scan_engine engine)
{
    switch (engine) {
    case scan_engine::avx2:
        return avx2_scanner && platform_has_avx2();
    case scan_engine::sse2:
        return sse2_scanner && platform_has_sse2();
    case scan_engine::plain:
        break;
    }
    return true;
}

scan_engine best_engine()
{
    static const scan_engine best = engine_supported(scan_engine::avx2)   ? scan_engine::avx2
                                    : engine_supported(scan_engine::sse2) ? scan_engine::sse2
                                                                          : scan_engine::plain;
    return best;
}

long read_descriptor(void *source, char *into, size_t capacity)
{
    int descriptor = *static_cast<int *>(source);
    for (;;) {
        long got = platform_read(descriptor, into, capacity);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

scan_result scan_input(const report_settings &settings, block_reader read_block, void *source,
                       scan_engine engine)
{
    scan_result result{};
    scan_state state = start_state(settings.pattern, result.captured);
    const buffer_scanner scan_buffer = scanner_for(engine);
    const size_t m = state.pattern_length;
    size_t carried = 0;
    bool line_open = false;  // bytes have come since the last newline

    for (;;) {
        long got = read_block(source, buffer + carried, BUFFER_SIZE - carried);
        if (got <= 0) {
            if (got < 0)
                result.read_error = errno ? errno : EIO;
            break;
        }
        size_t length = carried + static_cast<size_t>(got);
        line_open = buffer[length - 1] != '\n';
        state.next_nul = NUL_UNKNOWN;
        scan_buffer(state, buffer, length, carried);

        // Keep what the next buffer still needs: the last m - 1 bytes while
        // the current line is unmatched (a match may straddle the read), and
        // the open piece while the capture may still take it.
        size_t keep_from = length;
        if (state.pattern_can_match && !state.in_counted_line && m > 1)
            keep_from = length - (length < m - 1 ? length : m - 1);
        if (state.capturing && state.piece_start < keep_from)
            keep_from = state.piece_start;
        carried = length - keep_from;
        std::memmove(buffer, buffer + keep_from, carried);
        state.piece_start = state.piece_start > keep_from ? state.piece_start - keep_from : 0;
    }

    if (state.capturing && state.piece_start < carried) {
        state.next_nul = NUL_UNKNOWN;
        finish_piece(state, buffer, carried, carried - state.piece_start);
    }
    if (m == 0 && line_open)
        result.match_count = state.match_count + 1;
    else
        result.match_count = state.match_count;
    result.captured[state.captured_length] = '\0';
    return result;
}
