// The input scan: reads large blocks into one fixed buffer, carries what the
// next block still needs to its front, and hands each buffer to the engine.
#include "scan.hpp"

#include <cerrno>
#include <cstring>

#include "platform.hpp"
#include "scan_loop.hpp"

namespace {

// 512 KiB reads: a plain read loop over a 1 GiB listing in the page cache,
// which is mostly the kernel's copy, took 0.139 s with them, 0.144 s with
// 256 KiB, 0.157 s with 64 KiB and 0.135 s with 1 MiB reads (medians of 21
// alternating runs). The block is made resident at start-up, so a larger one
// costs start-up time: 1 MiB would add another 0.1 ms.
constexpr size_t BLOCK_SIZE = size_t{512} * 1024;
// The carry is the open line's last m - 1 bytes, or the open piece of at most
// PIECE_LIMIT bytes, whichever reaches further back; the next read fills the rest.
static_assert(BLOCK_SIZE >= 2 * PATTERN_LIMIT, "a read must have room past the carry");

// One buffer for the whole run; the program has one thread. Page-aligned, as
// madvise needs.
alignas(4096) char buffer[BLOCK_SIZE + BUFFER_SLACK];

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

// The count looks for the pattern's two rarest bytes, not its first and last:
// those are blanks in the default pattern, and blanks are everywhere.
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
    // A pattern of one byte value repeated: its two ends still narrow it down.
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
    filter.plan = plan_two_way(pattern, m);
    if (m > 0 && m <= FILTER_PATTERN_LIMIT) {
        choose_rare_bytes(filter);
        char padded[FILTER_PATTERN_LIMIT] = {}, counted[FILTER_PATTERN_LIMIT] = {};
        filter.word_count = (m + 7) / 8;
        std::memcpy(padded, pattern, m);
        std::memset(counted, 0xff, m);
        std::memcpy(filter.words, padded, sizeof filter.words);
        std::memcpy(filter.word_masks, counted, sizeof filter.word_masks);
    }
    return filter;
}

// Where the engine stands in ENGINES; every engine is listed.
size_t listed_at(scan_engine engine)
{
    size_t i = 0;
    while (i < ENGINE_COUNT - 1 && ENGINES[i].engine != engine)
        i++;
    return i;
}

// The first engine from ENGINES[i] on that this build and processor run;
// the last, the plain one, runs everywhere.
size_t first_supported(size_t i)
{
    while (i < ENGINE_COUNT - 1 && !ENGINES[i].runs())
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
    size_t keep_from = length;
    if (!state.count.in_matched_line && m > 1)
        keep_from = length - (length < m - 1 ? length : m - 1);
    if (capture_has_room(capture) && capture.piece_start < keep_from)
        keep_from = capture.piece_start;
    std::memmove(buffer, buffer + keep_from, length - keep_from);
    capture.piece_start = capture.piece_start > keep_from ? capture.piece_start - keep_from : 0;
    return length - keep_from;
}

}  // namespace

bool engine_supported(scan_engine engine)
{
    const engine_entry &entry = ENGINES[listed_at(engine)];
    return entry.runs();
}

const char *engine_name(scan_engine engine)
{
    return ENGINES[listed_at(engine)].name;
}

scan_engine best_engine()
{
    static const scan_engine best = ENGINES[first_supported(0)].engine;
    return best;
}

long read_descriptor(void *source, char *into, size_t capacity)
{
    const int descriptor = *static_cast<int *>(source);
    for (;;) {
        const long got = platform_read(descriptor, into, capacity);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

scan_result scan_input(const pattern_forms &forms, block_reader read_block, void *source, scan_engine engine)
{
    scan_result result{};
    scan_state state{{}, forms.count, {0, false, false}, {result.captured, 0, 0, false}};
    for (size_t i = 0; i < forms.count; i++)
        state.filters[i] = plan_filter(forms.form[i]);
    const engine_entry &chosen = ENGINES[first_supported(listed_at(engine))];
    const buffer_scanner scan_buffer = chosen.scanner;
    result.engine = chosen.engine;
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
        scan_buffer(state, buffer, length, carried);
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
