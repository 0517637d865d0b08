// libFuzzer target: the input is a pattern, two limit texts and a listing,
// separated by 0xFF bytes, after one byte that picks the read size. The scan
// runs on every engine with small reads so that boundaries are crossed
// often, and must agree with the plain reference; the limits and the colour
// are checked against independent statements. Any difference aborts.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "../tests/test_support.hpp"
#include "report.hpp"
#include "settings.hpp"

namespace {

// atoi's rules through strtoll, clamped to 32 bits: an independent account.
int32_t reference_limit(const std::string &text)
{
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string take_field(const uint8_t *&data, size_t &size)
{
    const void *separator = std::memchr(data, 0xff, size);
    size_t length = separator ? static_cast<size_t>(static_cast<const uint8_t *>(separator) - data) : size;
    std::string field(reinterpret_cast<const char *>(data), length);
    size_t used = separator ? length + 1 : length;
    data += used;
    size -= used;
    return field;
}

void fail(const char *what, size_t read_size, int engine)
{
    std::fprintf(stderr, "difference in %s (reads of %zu, engine %d)\n", what, read_size, engine);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    // Reads of 1 to 256 bytes, or whole.
    size_t read_size = data[0] == 0 ? SIZE_MAX : data[0];
    data++;
    size--;
    std::string pattern = take_field(data, size);
    pattern = pattern.substr(0, pattern.find('\0'));  // an argument ends at its NUL
    std::string yellow = take_field(data, size);
    std::string red = take_field(data, size);
    std::string listing(reinterpret_cast<const char *>(data), size);
    yellow = yellow.substr(0, yellow.find('\0'));
    red = red.substr(0, red.find('\0'));

    const char *argv[] = {"active-users", pattern.c_str(), yellow.c_str(), red.c_str(), nullptr};
    report_settings settings = parse_settings(4, argv);
    if (settings.yellow_limit != reference_limit(yellow) || settings.red_limit != reference_limit(red))
        fail("limits", 0, 0);

    scan_outcome expected = reference_scan(listing, pattern);
    for (scan_engine engine : supported_engines()) {
        scan_outcome got = scan_text(listing, pattern.c_str(), engine, read_size);
        if (got.match_count != expected.match_count)
            fail("count", read_size, static_cast<int>(engine));
        if (got.captured != expected.captured)
            fail("capture", read_size, static_cast<int>(engine));
    }

    // The colour by its properties, not by a second copy of its rule: it
    // never falls as the count grows; a count at or below both limits is
    // green; the red limit is not red and one above it is; one above the
    // yellow limit, when that is below the red one, is yellow.
    const int64_t count = expected.match_count, yellow_limit = settings.yellow_limit, red_limit = settings.red_limit;
    auto colour = [&](int64_t n) { return classify_count(n, settings.yellow_limit, settings.red_limit); };
    const bool falls = static_cast<int>(colour(count)) > static_cast<int>(colour(count + 1));
    if (falls || colour(std::min(yellow_limit, red_limit)) != status_colour::green ||
        colour(red_limit) == status_colour::red || colour(red_limit + 1) != status_colour::red ||
        (yellow_limit < red_limit && colour(yellow_limit + 1) != status_colour::yellow))
        fail("colour", 0, 0);
    return 0;
}
