// The count's plan for one pattern: which two bytes to look for, and the
// words that verify a candidate.
#include "scan/filter.hpp"

#include <cstring>

namespace {

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

}  // namespace

pattern_filter plan_filter(const char *pattern)
{
    pattern_filter filter{};
    filter.pattern = pattern;
    filter.length = std::strlen(pattern);
    const size_t m = filter.length;
    // A line holds at most one newline, at its end, so a pattern with a
    // newline anywhere else can never be found in a line.
    filter.can_match = m < 2 || !std::memchr(pattern, '\n', m - 1);
    filter.plan = plan_two_way(pattern, m);
    if (m > 0 && m <= FILTER_PATTERN_LIMIT) {
        choose_rare_bytes(filter);
        // The words' and masks' bytes past the pattern stay zero.
        filter.word_count = (m + 7) / 8;
        std::memcpy(filter.words, pattern, m);
        std::memset(filter.word_masks, 0xff, m);
    }
    return filter;
}
