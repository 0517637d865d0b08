// The input scan: reads large blocks into one fixed buffer, carries the
// current line's tail from one block to the next, and hands each buffer to the
// engine's inner loop.
#include "scan.hpp"

#include <cerrno>
#include <cstring>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "platform.hpp"
#include "scan_loop.hpp"

namespace {

// 512 KiB reads: a plain read loop over a 1 GiB listing in the page cache,
// which is mostly the kernel's copy, took 0.139 s with them, 0.144 s with
// 256 KiB, 0.157 s with 64 KiB and 0.135 s with 1 MiB reads (medians of 21
// alternating runs). The block is made resident at start-up, so a larger one
// costs start-up time: 1 MiB would add another 0.1 ms.
constexpr size_t BLOCK_SIZE = 512 * 1024;
// The carry is the pattern's length less one byte, or the open piece of at
// most PIECE_LIMIT - 1 bytes, whichever reaches further back. It sits at the
// front of the block and the next read fills the rest.
constexpr size_t CARRY_LIMIT = PATTERN_LIMIT;
static_assert(BLOCK_SIZE >= 2 * CARRY_LIMIT, "a read must have room past the carry");

constexpr size_t PAGE_BYTES = 4096;

// One buffer for the whole run; the program has one thread. CHUNK bytes of
// slack follow the block for loads that run past the input's end.
alignas(PAGE_BYTES) char buffer[BLOCK_SIZE + CHUNK];

// Makes the whole buffer resident before the first read, so that the
// program's memory is the same whatever the input's size. One madvise where
// Linux has MADV_POPULATE_WRITE (5.14 on): 0.11 ms here for 512 KiB, where
// writing a byte of each page, the fallback, takes 0.15 ms.
void populate_buffer()
{
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
    if (madvise(buffer, sizeof buffer, MADV_POPULATE_WRITE) == 0)
        return;
#endif
    for (size_t at = 0; at < sizeof buffer; at += PAGE_BYTES)
        *static_cast<volatile char *>(buffer + at) = 0;
}

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
    populate_buffer();

    for (;;) {
        long got = read_block(source, buffer + carried, BLOCK_SIZE - carried);
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
