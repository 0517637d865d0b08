// Two-Way substring search: no table proportional to the pattern, no
// quadratic worst case, which is what a fixed-memory scan of hostile input needs.
#include "scan/two_way.hpp"

#include <algorithm>
#include <cstring>

namespace {

// The start of the maximal suffix of x under the byte order (or its reverse),
// and that suffix's period.
size_t maximal_suffix(const unsigned char *x, size_t m, bool reversed, size_t &period)
{
    size_t start = 0;  // one past the suffix's first byte, so "before the pattern" is 0
    size_t j = 1, k = 1;
    period = 1;
    while (j + k <= m) {
        unsigned char a = x[j + k - 1];
        unsigned char b = x[start + k - 1];
        bool smaller = reversed ? a > b : a < b;
        if (smaller) {
            j += k;
            k = 1;
            period = j - start;
        } else if (a == b) {
            if (k != period) {
                k++;
            } else {
                j += period;
                k = 1;
            }
        } else {
            start = j;
            j = start + 1;
            k = period = 1;
        }
    }
    return start;
}

}  // namespace

two_way_plan plan_two_way(const char *pattern, size_t length)
{
    two_way_plan plan{};
    plan.pattern = reinterpret_cast<const unsigned char *>(pattern);
    plan.length = length;
    if (length == 0)
        return plan;
    size_t period_forward, period_reversed;
    size_t forward = maximal_suffix(plan.pattern, length, false, period_forward);
    size_t reversed = maximal_suffix(plan.pattern, length, true, period_reversed);
    plan.split = forward > reversed ? forward : reversed;
    size_t period = forward > reversed ? period_forward : period_reversed;
    // The left part repeats with the suffix's period exactly when the whole
    // pattern has that period. Then matches may overlap: after a shift by
    // the period, the pattern's first m - period bytes are already known to
    // match the text, and the search remembers that many (`memory`).
    // Otherwise the shift after a match is one more than the longer part,
    // and nothing is remembered.
    plan.periodic = period + plan.split <= length && std::memcmp(plan.pattern, plan.pattern + period, plan.split) == 0;
    plan.period = plan.periodic ? period : std::max(plan.split, length - plan.split) + 1;
    return plan;
}

const char *find_two_way(const two_way_plan &plan, const char *text, size_t size)
{
    const unsigned char *x = plan.pattern;
    const unsigned char *y = reinterpret_cast<const unsigned char *>(text);
    const size_t m = plan.length, split = plan.split;
    if (m == 0)
        return text;
    if (size < m)
        return nullptr;
    size_t memory = 0;  // bytes of the pattern's start known to match at this shift
    for (size_t j = 0; j <= size - m;) {
        // Right part, left to right, from where the remembered prefix leaves off.
        size_t i = split > memory ? split : memory;
        while (i < m && x[i] == y[j + i])
            i++;
        if (i < m) {
            j += i - split + 1;
            memory = 0;
            continue;
        }
        // Left part, right to left, down to the remembered prefix.
        i = split;
        while (i > memory && x[i - 1] == y[j + i - 1])
            i--;
        if (i <= memory)
            return text + j;
        j += plan.period;
        memory = plan.periodic ? m - plan.period : 0;
    }
    return nullptr;
}
