// The input scan: reads large blocks into one fixed buffer, carries the
// current line's tail from one block to the next, and hands each buffer to the
// engine's inner loop.
#include "scan.hpp"

#include <cerrno>
#include <cstring>

#include "platform.hpp"
#include "scan_loop.hpp"

namespace {

// 64 KiB reads: measured on 1 GiB listings, 128 KiB and 1 MiB reads were no
// faster, and only this much of the buffer (plus a carry of under 510 bytes)
// is touched unless the pattern is long, so resident memory stays small and
// stops growing after the first block.
constexpr size_t BLOCK_SIZE = 64 * 1024;
// The carry is the pattern's length less one byte, or the open piece of at
// most PIECE_LIMIT - 1 bytes, whichever reaches further back.
constexpr size_t CARRY_LIMIT = PATTERN_LIMIT;
constexpr size_t BUFFER_SIZE = CARRY_LIMIT + BLOCK_SIZE;

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
void choose_rare_bytes(pattern_filter &filter)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(filter.pattern);
    size_t first = 0;
    for (size_t i = 1; i < filter.length; i++) {
        if (commonness(p[i]) < commonness(p[first]))
            first = i;
    }
    size_t second = first;
    for (size_t i = 0; i < filter.length; i++) {
        if (p[i] != p[first] && (second == first || commonness(p[i]) < commonness(p[second])))
            second = i;
    }
    // A pattern of one byte value repeated: two far-apart places still narrow it down.
    if (second == first && filter.length > 1)
        second = first == filter.length - 1 ? 0 : filter.length - 1;
    filter.offset_1 = first;
    filter.offset_2 = second;
    filter.byte_1 = filter.pattern[first];
    filter.byte_2 = filter.pattern[second];
}

pattern_filter plan_filter(const char *pattern)
{
    pattern_filter filter{};
    filter.pattern = pattern;
    filter.length = std::strlen(pattern);
    const size_t m = filter.length;
    // A line holds at most one newline, at its end, so a pattern with a
    // newline anywhere else can never be found in a line.
    filter.can_match = m <= PATTERN_LIMIT && (m < 2 || !std::memchr(pattern, '\n', m - 1));
    filter.use_two_way = m > FILTER_PATTERN_LIMIT;
    if (m > 0)
        choose_rare_bytes(filter);
    filter.plan = plan_two_way(pattern, m);
    if (!filter.use_two_way) {
        char padded[FILTER_PATTERN_LIMIT] = {}, counted[FILTER_PATTERN_LIMIT] = {};
        std::memcpy(padded, pattern, m);
        std::memset(counted, 0xff, m);
        filter.word_count = (m + 7) / 8;
        std::memcpy(filter.words, padded, sizeof filter.words);
        std::memcpy(filter.word_masks, counted, sizeof filter.word_masks);
    }
    return filter;
}

buffer_scanner scanner_for(scan_engine engine)
{
    switch (engine) {
    case scan_engine::avx512:
        if (avx512_scanner && platform_has_avx512())
            return avx512_scanner;
        [[fallthrough]];
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
    case scan_engine::avx512:
        return avx512_scanner && platform_has_avx512();
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
    static const scan_engine best = engine_supported(scan_engine::avx512) ? scan_engine::avx512
                                    : engine_supported(scan_engine::avx2) ? scan_engine::avx2
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
    scan_state state{};
    state.filter = plan_filter(settings.pattern);
    state.count.sparse = true;
    state.capture = {result.captured, 0, true, 0, NO_NUL};
    count_progress &count = state.count;
    capture_progress &capture = state.capture;
    const buffer_scanner scan_buffer = scanner_for(engine);
    const size_t m = state.filter.length;
    size_t carried = 0;
    bool line_open = false;  // bytes have come since the last newline

    for (;;) {
        long got = read_block(source, buffer + carried, BLOCK_SIZE);
        if (got <= 0) {
            if (got < 0)
                result.read_error = errno ? errno : EIO;
            break;
        }
        size_t length = carried + static_cast<size_t>(got);
        line_open = buffer[length - 1] != '\n';
        scan_buffer(state, buffer, length, carried);

        // Keep what the next buffer still needs: the last m - 1 bytes while
        // the current line is unmatched (a match may straddle the read), and
        // the open piece while the capture may still take it.
        size_t keep_from = length;
        if (state.filter.can_match && !count.in_matched_line && m > 1)
            keep_from = length - (length < m - 1 ? length : m - 1);
        if (capture.capturing && capture.piece_start < keep_from)
            keep_from = capture.piece_start;
        carried = length - keep_from;
        std::memmove(buffer, buffer + keep_from, carried);
        capture.piece_start = capture.piece_start > keep_from ? capture.piece_start - keep_from : 0;
        capture.next_nul =
            capture.next_nul != NO_NUL && capture.next_nul >= keep_from ? capture.next_nul - keep_from : NO_NUL;
    }

    if (capture.capturing && capture.piece_start < carried)
        finish_piece(capture, buffer, carried - capture.piece_start);
    // A last line without a newline counts as a line.
    result.match_count = count.match_count + (count.in_matched_line || (m == 0 && line_open) ? 1 : 0);
    result.captured[capture.length] = '\0';
    return result;
}
