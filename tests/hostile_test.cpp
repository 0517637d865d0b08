// Hostile input against the built program: huge lines and counts streamed
// through pipes, binary input, extreme patterns and limits. Each case checks
// the whole report, the status and standard error; the huge ones also check
// that memory stays flat.
#include <algorithm>
#include <random>

#include "process_support.hpp"
#include "test_support.hpp"

namespace {

constexpr size_t MIB = 1 << 20;
constexpr size_t GIB = size_t{1} << 30;

// Streams `size` bytes of 'x' with `pattern` written so that it starts at
// `pattern_at`, with no newline anywhere.
std::function<void(int)> one_long_line(size_t size, size_t pattern_at, const std::string &pattern)
{
    return [=](int pipe) {
        static const std::string filler(MIB, 'x');
        size_t written = 0;
        while (written < pattern_at) {
            size_t n = std::min(filler.size(), pattern_at - written);
            write_all(pipe, filler.data(), n);
            written += n;
        }
        write_all(pipe, pattern.data(), pattern.size());
        written += pattern.size();
        while (written < size) {
            size_t n = std::min(filler.size(), size - written);
            write_all(pipe, filler.data(), n);
            written += n;
        }
    };
}

long small_input_peak()
{
    const temp_file listing(std::string(1024, 'a') + "\n");
    run_request request{{}, listing.path};
    request.measure_memory = true;
    return run_program(request).peak_kib;
}

}  // namespace

TEST(hostile, gigabyte_line_from_a_pipe)
{
    const std::string pattern = " Active ";
    const size_t size = GIB;
    // The capture of a GiB line: 15 whole 510-byte pieces (7,650 bytes; a
    // 16th would pass 7,999), then the last piece, the line's last
    // 1,073,741,824 % 510 = 64 bytes, which still fits.
    const std::string whole_pieces(15 * 510, 'x');
    struct {
        const char *name;
        size_t pattern_at;
        std::string last_piece;
    } cases[] = {
        {"pattern_at_very_end", size - pattern.size(), std::string(56, 'x') + " Active "},
        // Where a pipe's reads fall is the kernel's choice; the in-process
        // tests cut reads at every size.
        {"pattern_mid_stream", 512 * 65536 - 3, std::string(64, 'x')},
    };
    for (const auto &c : cases) {
        run_outcome run = run_program({{}, "", one_long_line(size, c.pattern_at, pattern)});
        expect_run(run, expected_report("green", whole_pieces + c.last_piece, 1), 0, "", c.name);
    }
}

// Memory is fixed: the read buffer is made resident before the first read,
// so more input costs nothing.
// Flat: a gibibyte leaves no more resident than a kibibyte, within what the
// link mode lets the figure wander. A static program's pages are all its
// own, so it may wander by 64 KiB (the kernel counts resident pages in
// batches). A dynamic one also holds libc's pages, of which runs on the same
// input touch up to 180 KiB more or less; the fewest of three runs is taken,
// and 256 KiB is allowed. The absolute bound is the link mode's too.
TEST(hostile, memory_stays_flat)
{
#ifdef ACTIVE_USERS_SANITIZED
    GTEST_SKIP() << "sanitizer shadow memory swamps the figures";
#endif
#ifdef ACTIVE_USERS_STATIC_LINK
    const long WANDER_KIB = 64, MOST_KIB = 2048;
#else
    const long WANDER_KIB = 256, MOST_KIB = 4096;
#endif
    auto fewest = [](auto peak) { return std::min({peak(), peak(), peak()}); };
    auto peak_for = [](size_t size) {
        run_request request{{}, "", one_long_line(size, 0, " Active ")};
        request.measure_memory = true;
        return run_program(request).peak_kib;
    };
    long small = fewest(small_input_peak);
    long mebibyte = fewest([&] { return peak_for(MIB); });
    long gibibyte = fewest([&] { return peak_for(GIB); });
    EXPECT_LE(gibibyte - mebibyte, WANDER_KIB) << "1 MiB: " << mebibyte << " KiB, 1 GiB: " << gibibyte << " KiB";
    EXPECT_LE(gibibyte - small, WANDER_KIB) << "1 KiB: " << small << " KiB, 1 GiB: " << gibibyte << " KiB";
    EXPECT_LE(gibibyte, MOST_KIB);
}

// An empty pattern counts every line: 2^31 + 3 of them overflow any 32-bit
// counter. Slow: 2 GiB through a pipe.
TEST(hostile, slow_count_past_32_bits)
{
    const size_t lines = (size_t{1} << 31) + 3;
    run_outcome run = run_program({{""}, "", [&](int pipe) {
                                       static const std::string newlines(MIB, '\n');
                                       write_all(pipe, newlines.data(), newlines.size(), lines / MIB);
                                       write_all(pipe, newlines.data(), lines % MIB);
                                   }});
    expect_run(run, expected_report("red", std::string(7999, '\n'), 2147483651LL), 0, "", "2^31 + 3 lines");
}

TEST(hostile, binary_and_odd_line_ends)
{
    std::mt19937 random(4);
    std::string binary(300000, '\0');
    for (char &byte : binary)
        byte = static_cast<char>(random());
    struct {
        const char *name;
        std::string input;
        std::string pattern;
    } cases[] = {
        {"all_nul", std::string(200000, '\0'), " Active "},
        {"all_nul_empty_pattern", std::string(200000, '\0'), ""},
        {"random_binary", binary, binary.substr(1000, 2).c_str()},
        {"random_binary_default", binary, " Active "},
        {"cr_only", "a Active \rb Active \rc\r", " Active "},
        {"crlf", "a Active \r\nb\r\n", "Active \r\n"},
        {"unterminated", "x\ny Active ", " Active "},
        {"nul_then_pattern", std::string("ab\0 Active \n", 12), " Active "},
    };
    for (const auto &c : cases) {
        const temp_file listing(c.input);
        scan_outcome expected = reference_scan(c.input, c.pattern);
        // Every case counts at most 7 lines: green with the default limits.
        expect_run(run_program({{c.pattern}, listing.path}),
                   expected_report("green", expected.captured, expected.match_count), 0, "", c.name);
    }
}

TEST(hostile, extreme_patterns)
{
    // 131,071 bytes is the longest single argument Linux passes: one more
    // and execve refuses with E2BIG before the program runs.
    for (size_t length : {size_t{1}, size_t{510}, size_t{511}, size_t{131071}}) {
        std::string pattern(length, 'p');
        std::string input = pattern + "\n" + pattern.substr(1) + "\n" + "q" + pattern + "q\n";
        const temp_file listing(input);
        scan_outcome expected = reference_scan(input, pattern);
        EXPECT_EQ(expected.match_count, 2);
        expect_run(run_program({{pattern}, listing.path}),
                   expected_report("green", expected.captured, expected.match_count), 0, "", std::to_string(length));
    }
    run_outcome refused = run_program({{std::string(131072, 'p')}, "/dev/null", {}, "", false});
    EXPECT_EQ(refused.spawn_error, E2BIG);
}

TEST(hostile, extreme_limits)
{
    std::string input;
    for (int i = 0; i < 12; i++)
        input += "u Active \n";
    struct {
        std::string yellow, red;
        const char *colour;
    } cases[] = {
        {"99999999999999999999", "99999999999999999999", "green"},
        {"-99999999999999999999", "99999999999999999999", "yellow"},
        {"-0", "-0", "red"},
        {"  +12abc", "  +12abc", "green"},
        {"  +11abc", "  +12abc", "yellow"},
        {"", "", "red"},
        {"abc", "11", "red"},
    };
    const temp_file listing(input);
    for (const auto &c : cases)
        expect_run(run_program({{" Active ", c.yellow, c.red}, listing.path}), expected_report(c.colour, input, 12), 0,
                   "", c.yellow + " / " + c.red);
}
