// The scan over in-memory input: named edge cases, then seeded random inputs
// compared with the reference scan, on every engine and with reads of many sizes.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "listing.hpp"
#include "scan/two_way.hpp"
#include "test_support.hpp"

namespace {

const size_t READ_SIZES[] = {1, 3, 64, 509, 510, 511, 4096, 65536, SIZE_MAX};

std::string repeat(const std::string &text, size_t times)
{
    std::string out;
    for (size_t i = 0; i < times; i++)
        out += text;
    return out;
}

struct scan_case {
    const char *name;
    std::string input;
    std::string pattern;
    int64_t match_count;
    std::string captured;  // "=" stands for the whole input
};

std::vector<scan_case> scan_cases()
{
    std::string long_line = std::string(100, 'x') + " Active " + std::string(492, 'y') + "\n";
    std::string split_pattern = std::string(506, 'x') + " Active " + "\n";  // straddles 510
    std::string twice_long = " Active " + std::string(600, 'x') + " Active \n";
    std::string filler = repeat(std::string(99, 'f') + "\n", 80);  // exactly 8000 bytes
    std::string base = repeat(std::string(499, 'c') + "\n", 15);   // 7500 bytes, 500 short of the bound
    std::vector<scan_case> cases = {
        {"empty", "", " Active ", 0, "="},
        {"one_of_two", "1 alice Active now\n2 bob Idle now\n", " Active ", 1, "="},
        {"needs_blank_before", "x alice:Active now\n", " Active ", 0, "="},
        {"needs_blank_after", "x alice Active\n", " Active ", 0, "="},
        {"tab_is_not_blank", "x alice\tActive now\n", " Active ", 0, "="},
        {"case_matters", "x alice ACTIVE now\n", " Active ", 0, "="},
        {"twice_counts_once", "a Active b Active c\n", " Active ", 1, "="},
        {"unterminated", "a Active b", " Active ", 1, "="},
        {"long_line", long_line, " Active ", 1, "="},
        {"straddles_piece", split_pattern, " Active ", 1, "="},
        {"long_line_twice_counts_once", twice_long, " Active ", 1, "="},
        {"after_nul", std::string("a\0 Active \n", 11), " Active ", 1, "a"},
        {"nul_hides_rest_of_piece", std::string("ab\0cd\nef\n", 9), "cd", 1, "abef\n"},
        {"empty_pattern_counts_lines", "a\n\nb", "", 3, "="},
        {"empty_pattern_empty_input", "", "", 0, ""},
        {"newline_pattern", "a\nb\nc", "\n", 2, "="},
        {"pattern_ending_in_newline", "x Active\nActive \n", "Active\n", 1, "="},
        {"newline_inside_pattern", "a\nb\n", "a\nb", 0, "="},
        {"cr_is_ordinary", "a Active \r\n", "Active \r", 1, "="},
        {"exceeds_buffer", filler + "short\n", "f", 80, filler.substr(0, 7900) + "short\n"},
        {"later_short_piece_fits", filler.substr(0, 7900) + std::string(150, 'z') + "\nok\n", "ok", 1,
         filler.substr(0, 7900) + "ok\n"},
        {"fills_exactly", repeat(std::string(9, 'g') + "\n", 799) + "12345678\n" + "h\n" + std::string("\0h\n", 3), "h",
         2, repeat(std::string(9, 'g') + "\n", 799) + "12345678\n"},
        {"long_pattern", std::string(700, 'p') + "\n" + std::string(699, 'p') + "\n", std::string(700, 'p'), 1, "="},
        // A NUL first in a chunk, first in a piece after a cut, and inside the piece after a cut.
        {"nul_first_in_chunk", std::string(64, 'a') + std::string("\0bc\nd\n", 6), "d", 1,
         std::string(64, 'a') + "d\n"},
        {"nul_starts_piece_after_cut", std::string(510, 'a') + std::string("\0b\nc\n", 5), "c", 1,
         std::string(510, 'a') + "c\n"},
        {"nul_in_piece_after_cut", std::string(510, 'a') + std::string("bb\0cc\nz\n", 8), "cc", 1,
         std::string(510, 'a') + "bbz\n"},
        // Captures that end at, one below and one above 7999 characters.
        {"fills_to_bound_unterminated", base + std::string(499, 'c'), "c", 16, "="},
        {"fills_to_bound_with_newline", base + std::string(498, 'c') + "\n", "c", 16, "="},
        {"one_below_bound_unterminated", base + std::string(498, 'c'), "c", 16, "="},
        {"one_above_bound_unterminated", base + std::string(500, 'c'), "c", 16, base},
        {"one_above_bound_with_newline", base + std::string(499, 'c') + "\n", "c", 16, base},
        // With one character of room, a 511-byte line is a 510-byte piece that
        // does not fit and a newline that does.
        {"line_of_511_when_nearly_full", base + std::string(497, 'd') + "\n" + std::string(510, 'e') + "\n", "e", 1,
         base + std::string(497, 'd') + "\n\n"},
        {"last_unterminated_piece_fills_to_bound", base + std::string(497, 'c') + "\nx", "x", 1, "="},
        // A line holds one newline, at its end: these can never be in one.
        {"newline_then_byte", "x\nab\n", "\na", 0, "="},
        {"long_pattern_ending_in_newline", repeat(std::string(40, 'q') + "\n", 2), std::string(40, 'q') + "\n", 2, "="},
    };
    // Patterns around each multiple of 8 bytes, beside a line that differs
    // from them only in their last byte.
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJ";
    for (size_t length : {7, 8, 9, 15, 16, 17, 23, 24, 25, 31, 32, 33}) {
        std::string pattern = letters.substr(0, length), near = pattern;
        near.back() = '#';
        cases.push_back({"last_byte_counts", near + "\n" + pattern + "\n", pattern, 1, "="});
    }
    return cases;
}

}  // namespace

TEST(scan_input, edge_cases_on_every_engine_and_read_size)
{
    // Unsupported engines are passed over; say which ran on this processor and runtime.
    std::printf("engines run:");
    for (scan_engine engine : supported_engines())
        std::printf(" %s", engine_name(engine));
    // An engine this processor lacks is tested nowhere on this machine: say so.
    std::string not_run;
    for (const engine_entry &entry : ENGINES)
        not_run += engine_runs(entry) ? "" : std::string(" ") + entry.name;
    std::printf("; could not run here:%s\n", not_run.empty() ? " none" : not_run.c_str());
    for (const scan_case &c : scan_cases()) {
        const scan_outcome expected{c.match_count, c.captured == "=" ? c.input : c.captured};
        ASSERT_EQ(reference_scan(c.input, c.pattern), expected) << "reference disagrees on " << c.name;
        for (scan_engine engine : supported_engines()) {
            for (size_t read_size : READ_SIZES) {
                EXPECT_EQ(scan_text(c.input, c.pattern.c_str(), engine, read_size), expected)
                    << c.name << ", engine " << engine_name(engine) << ", reads of " << read_size;
            }
        }
    }
}

// Run by ctest with GLIBC_TUNABLES hiding processor features, and the engine
// that must then be chosen in ACTIVE_USERS_EXPECTED_ENGINE.
TEST(scan_input, best_engine_follows_the_processor)
{
    const char *expected = std::getenv("ACTIVE_USERS_EXPECTED_ENGINE");
    if (!expected)
        GTEST_SKIP() << "run by ctest with features hidden";
    EXPECT_STREQ(engine_name(best_engine()), expected);
}

TEST(scan_input, failed_read_keeps_what_was_read)
{
    struct failing {
        int calls;
    } state{0};
    auto read_then_fail = [](void *source, char *into, size_t) -> long {
        if (static_cast<failing *>(source)->calls++ == 0) {
            std::memcpy(into, "a Active \nb\n", 12);
            return 12;
        }
        errno = EIO;
        return -1;
    };
    scan_result result = scan_input(one_form(" Active "), read_then_fail, &state);
    EXPECT_EQ(result.match_count, 1);
    EXPECT_STREQ(result.captured, "a Active \nb\n");
    EXPECT_EQ(result.read_error, EIO);
}

TEST(scan_input, pattern_longer_than_the_limit_is_never_found)
{
    std::string pattern(131073, 'a');
    EXPECT_EQ(scan_text(pattern + "\n", pattern.c_str(), best_engine()).match_count, 0);
    pattern.pop_back();
    EXPECT_EQ(scan_text(pattern + "\n", pattern.c_str(), best_engine()).match_count, 1);
}

// Random listings mixing long lines, NULs, CRs, empty lines and missing final
// newlines, with patterns drawn from the input itself, so that matches fall
// across reads, pieces and the buffer's edge.
TEST(scan_input, matches_reference_on_random_inputs)
{
    std::mt19937_64 random(20261208);
    const std::string alphabet = "aA \n\r\t\0xv";
    for (int round = 0; round < 3000; round++) {
        std::string input;
        size_t target = random() % 4 == 0 ? random() % 400000 : random() % 3000;
        while (input.size() < target) {
            switch (random() % 6) {
            case 0:
                input += std::string(random() % 1200, 'a' + random() % 3);
                break;
            case 1:
                input += " Active ";
                break;
            case 2:
                input += '\n';
                break;
            default:
                for (size_t n = random() % 40; n > 0; n--)
                    input += alphabet[random() % alphabet.size()];
            }
        }
        std::string pattern;
        if (!input.empty() && random() % 8 != 0) {
            size_t start = random() % input.size();
            size_t length = random() % 3 == 0 ? random() % 800 : 1 + random() % 40;
            pattern = input.substr(start, length);
            pattern = pattern.substr(0, pattern.find('\0'));
            // A near miss: only the last byte differs from the input's text.
            if (!pattern.empty() && random() % 4 == 0)
                pattern.back() = pattern.back() == 'v' ? 'x' : 'v';
        }
        scan_outcome expected = reference_scan(input, pattern);
        size_t read_size = 1 + random() % (random() % 2 ? 700 : 300000);
        for (scan_engine engine : supported_engines()) {
            ASSERT_EQ(scan_text(input, pattern.c_str(), engine, read_size), expected)
                << "round " << round << ", engine " << engine_name(engine) << ", reads of " << read_size
                << ", pattern length " << pattern.size() << ", input length " << input.size();
        }
    }
}

namespace {

// About `lines` lines of [shortest, longest] bytes, `active_percent` of them
// holding `active` where it fits.
std::string listing(uint64_t seed, size_t lines, unsigned active_percent, size_t shortest, size_t longest,
                    const char *active = " Active ")
{
    return session_listing(lines * (shortest + longest) / 2, {active_percent, shortest, longest, active}, seed);
}

}  // namespace

// Listings long enough for the bulk loop once the capture is full: dense and
// sparse stretches (each way of counting, and the switch between them), lines
// shorter than a chunk and longer than a piece, and NULs and short lines
// turning up late.
TEST(scan_input, long_listings_match_reference)
{
    std::mt19937_64 random(8);
    std::string dense = listing(1, 6000, 80, 60, 90);
    std::string sparse = listing(2, 6000, 1, 60, 90);
    std::string late_nul = sparse;
    late_nul[late_nul.size() / 2] = '\0';
    std::string late_short_line = dense + "x\n" + sparse;
    // NULs early in many lines make short visible pieces that still fit.
    std::string nul_heavy = listing(3, 6000, 50, 60, 90);
    for (size_t at = 5; at < nul_heavy.size(); at += 700)
        nul_heavy[at] = '\0';
    std::string binary(300000, '\0');
    for (char &byte : binary)
        byte = static_cast<char>(random() % 64 == 0 ? '\n' : random());
    struct {
        const char *name;
        std::string input;
        std::string pattern;
    } cases[] = {
        {"dense", dense, " Active "},
        {"sparse", sparse, " Active "},
        {"dense_sparse_dense", dense + sparse + dense, " Active "},
        {"short_lines", listing(4, 30000, 50, 0, 40), " Active "},
        {"lines_over_a_chunk_with_room_left", listing(5, 4000, 50, 100, 140), " Active "},
        {"lines_over_a_piece", listing(6, 400, 30, 400, 1500), " Active "},
        {"two_word_pattern", listing(7, 6000, 80, 60, 90, " Active since "), " Active since "},
        {"late_nul", late_nul, " Active "},
        {"late_short_line", late_short_line, " Active "},
        {"nul_heavy", nul_heavy, " Active "},
        {"binary", binary, " Active "},
    };
    for (const auto &c : cases) {
        scan_outcome expected = reference_scan(c.input, c.pattern);
        for (scan_engine engine : supported_engines()) {
            for (size_t read_size : {size_t{4096}, size_t{65536}, SIZE_MAX})
                EXPECT_EQ(scan_text(c.input, c.pattern.c_str(), engine, read_size), expected)
                    << c.name << ", engine " << engine_name(engine) << ", reads of " << read_size;
        }
    }
}

// A pattern in several encodings (a non-ASCII word on Windows): a line
// counts once when it holds any form, including forms of different lengths,
// forms that cross reads, a one-byte form, forms that end a line and forms
// that hold a newline (and so are never in one line).
TEST(scan_input, any_form_counts_a_line_once)
{
    const std::vector<std::string> form_sets[] = {
        {"\x80\xEA\xE2", "\xD0\x90\xD0\xBA\xD1\x82", "\xE0\xAA"},
        {"\x82", "\xC3\xA9"},
        {"\xC3\xA9\n", "\xE9\n"},
        {"\xC3\xA9\nb", "\xE9\nb"},
    };
    std::mt19937_64 random(3);
    for (int round = 0; round < 400; round++) {
        const std::vector<std::string> &forms = form_sets[round % std::size(form_sets)];
        std::string input;
        for (size_t lines = random() % 200; lines > 0; lines--) {
            input += std::string(random() % 600, 'a' + random() % 2);
            for (size_t n = random() % 3; n > 0; n--)
                input += forms[random() % forms.size()] + std::string(random() % 5, ' ');
            input += random() % 16 ? "\n" : "";
        }
        scan_outcome expected = reference_scan(input, "");
        expected.match_count = 0;
        for (size_t start = 0; start < input.size();) {
            const size_t end = std::min(input.find('\n', start), input.size() - 1) + 1;
            const std::string line = input.substr(start, end - start);
            expected.match_count += std::any_of(forms.begin(), forms.end(), [&](const std::string &form) {
                return line.find(form) != std::string::npos;
            });
            start = end;
        }
        pattern_forms given{{}, forms.size()};
        for (size_t i = 0; i < forms.size(); i++)
            given.form[i] = forms[i].c_str();
        memory_source source{input.data(), input.size(), 0, static_cast<size_t>(1 + random() % 3000)};
        const scan_result result = scan_input(given, read_memory, &source);
        ASSERT_EQ((scan_outcome{result.match_count, result.captured}), expected) << "round " << round;
    }
}

// Two-Way, which the long patterns take, against a naive search: patterns of
// 33 to 200 bytes over two letters, most built by repeating a short unit
// (periodic, where the algorithm's shifts are subtle), some ending in a
// newline, in texts over the same letters; and a lone letter amid a run on
// each side (b^h a b^h: periodic exactly, its period and split filling it)
// in texts of runs about as long.
TEST(find_two_way, matches_naive_search)
{
    std::mt19937_64 random(33);
    auto letters = [&](size_t length) {
        std::string text(length, 'a');
        for (char &c : text)
            c = random() % 2 ? 'a' : 'b';
        return text;
    };
    for (int round = 0; round < 20000; round++) {
        const size_t length = 33 + random() % 168;
        const std::string unit = letters(1 + random() % 6);
        std::string pattern = random() % 4 ? repeat(unit, length).substr(0, length) : letters(length);
        if (random() % 4 == 0)
            pattern[random() % length] ^= 3;  // 'a' <-> 'b': a near period
        if (random() % 8 == 0)
            pattern.back() = '\n';
        // Texts of the same unit with flips, so near matches overlap.
        std::string text = repeat(unit, 1 + random() % (800 / unit.size()));
        for (size_t flips = random() % 4; flips > 0; flips--)
            text[random() % text.size()] ^= 3;
        if (round % 4 == 0) {
            const size_t half = 16 + random() % 84;
            pattern = std::string(half, 'b') + 'a' + std::string(half, 'b');
            for (text.clear(); text.size() < 800;)
                text += std::string(half - 3 + random() % 7, 'b') + 'a';
        }
        text.insert(random() % (text.size() + 1), random() % 2 ? pattern : pattern.substr(1));
        const two_way_plan plan = plan_two_way(pattern.c_str(), pattern.size());
        const char *found = find_two_way(plan, text.data(), text.size());
        const size_t at = text.find(pattern);
        ASSERT_EQ(found ? static_cast<size_t>(found - text.data()) : std::string::npos, at)
            << "round " << round << ": " << pattern << " in " << text;
    }
}
