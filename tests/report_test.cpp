// Classification at and around the limits, the timestamp's form and its
// fallback, the report's exact bytes, and what a run refuses.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "report.hpp"
#include "run.hpp"

TEST(classify_count, strict_limits_red_tested_first)
{
    struct {
        int64_t count;
        int32_t yellow, red;
        const char *colour;
    } cases[] = {
        {0, 60, 65, "green"},
        {60, 60, 65, "green"},
        {61, 60, 65, "yellow"},
        {65, 60, 65, "yellow"},
        {66, 60, 65, "red"},
        {7, 10, 5, "red"},  // red limit below yellow: yellow is never given
        {5, 10, 5, "green"},
        {10, 10, 5, "red"},
        {0, 0, 0, "green"},
        {1, 0, 0, "red"},
        {0, -1, 65, "yellow"},
        {INT64_C(2147483651), INT32_MAX, INT32_MAX, "red"},
        {0, INT32_MIN, INT32_MIN, "red"},
    };
    for (const auto &c : cases)
        EXPECT_STREQ(colour_text(classify_count(c.count, c.yellow, c.red)), c.colour)
            << c.count << " with " << c.yellow << "/" << c.red;
}

namespace {

// Pins local time to UTC, so each reading has one right text.
void use_utc()
{
#ifdef _WIN32
    _putenv("TZ=UTC0");
    _tzset();
#else
    setenv("TZ", "UTC0", 1);
    tzset();
#endif
}

#ifdef _WIN32
// msvcrt's _localtime64 stops at the end of the year 3000.
constexpr const char *YEAR_9999 = UNKNOWN_TIME;
#else
constexpr const char *YEAR_9999 = "Fri Dec 31 23:59:59 9999";
#endif

}  // namespace

TEST(format_timestamp, ctime_form_or_unknown)
{
    use_utc();
    static_assert(sizeof(std::time_t) == 8, "a 32-bit clock stops in January 2038");
    struct {
        std::time_t clock;
        const char *text;
    } cases[] = {
        {0, "Thu Jan  1 00:00:00 1970"},
        {1796755934, "Tue Dec  8 18:52:14 2026"},
        {1799999999, "Fri Jan 15 07:59:59 2027"},
        // Every month, and every weekday at least once.
        {1798938123, "Sun Jan  3 01:02:03 2027"},
        {1801526399, "Mon Feb  1 23:59:59 2027"},
        {1804593600, "Tue Mar  9 12:00:00 2027"},
        {1807684200, "Wed Apr 14 06:30:00 2027"},
        {1810838710, "Thu May 20 18:45:10 2027"},
        {1813914549, "Fri Jun 25 09:09:09 2027"},
        {1816992000, "Sat Jul 31 00:00:00 2027"},
        {1817126055, "Sun Aug  1 13:14:15 2027"},
        {1820214489, "Mon Sep  6 07:08:09 2027"},
        {1823372482, "Tue Oct 12 20:21:22 2027"},
        {1826449871, "Wed Nov 17 11:11:11 2027"},
        {1829600542, "Thu Dec 23 22:22:22 2027"},
        {2214129600, "Wed Feb 29 12:00:00 2040"},  // past 2^31 seconds
        {32535215999, "Wed Dec 31 23:59:59 3000"},
        {253402300799, YEAR_9999},
        {253402300800, UNKNOWN_TIME},  // year 10000 would not fit 24 characters
        {static_cast<std::time_t>(-1), UNKNOWN_TIME},
        {-62135596801, UNKNOWN_TIME},  // year 0
    };
    for (const auto &c : cases) {
        char timestamp[TIMESTAMP_SIZE];
        std::memset(timestamp, '#', sizeof timestamp);
        format_timestamp(c.clock, timestamp);
        EXPECT_STREQ(timestamp, c.text) << c.clock;
    }
}

namespace {

std::string report_text(status_colour colour, const char *timestamp, const scan_result &scan, int &error)
{
    std::FILE *out = std::tmpfile();
    error = write_report(out, colour, timestamp, scan);
    std::string text(static_cast<size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    size_t got = std::fread(text.data(), 1, text.size(), out);
    text.resize(got);
    std::fclose(out);
    return text;
}

}  // namespace

TEST(write_report, three_blocks_byte_for_byte)
{
    static scan_result scan{};
    struct {
        status_colour colour;
        int64_t count;
        const char *captured;
        const char *report;
    } cases[] = {
        {status_colour::green, 0, "", "green T [X]\n\n\n\n0 users active\n"},
        {status_colour::yellow, 1, "a Active \n", "yellow T [X]\n\na Active \n\n\n1 users active\n"},
        {status_colour::red, INT64_C(2147483651), "x", "red T [X]\n\nx\n\n2147483651 users active\n"},
    };
    for (const auto &c : cases) {
        scan.match_count = c.count;
        std::strcpy(scan.captured, c.captured);
        std::string expected = c.report;
        expected.replace(expected.find('T'), 1, "Tue Dec  8 18:52:14 2026");
        expected.replace(expected.find("[X]"), 3, "[]");
        int error = -1;
        EXPECT_EQ(report_text(c.colour, "Tue Dec  8 18:52:14 2026", scan, error), expected);
        EXPECT_EQ(error, 0);
    }
}

TEST(write_report, failed_write_returns_its_reason)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device that refuses writes; the black-box suite closes standard output instead";
#endif
    std::FILE *full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    static scan_result scan{};
    EXPECT_EQ(write_report(full, status_colour::green, UNKNOWN_TIME, scan), ENOSPC);
    std::fclose(full);
}

// The longest pattern the scan can follow is taken; one byte more, in any of
// a pattern's forms, gives a message and no report, never a green one.
TEST(run_report, refuses_a_pattern_the_scan_cannot_follow)
{
    const std::string fits(131072, 'a'), too_long(131073, 'a');
    struct {
        pattern_forms forms;
        int status;
        const char *report_starts;
    } cases[] = {
        {{{fits.c_str()}, 1}, 0, "green "},
        {{{too_long.c_str()}, 1}, 1, ""},
        {{{"a", too_long.c_str()}, 2}, 1, ""},
    };
    for (const auto &c : cases) {
        std::FILE *empty_listing = std::tmpfile();
        std::FILE *out = std::fopen("run_report_test.out", "wb");
        ASSERT_TRUE(empty_listing && out);
        EXPECT_EQ(run_report({c.forms.form[0], 60, 65}, c.forms, fileno(empty_listing), out), c.status);
        if (c.status != 0)  // a refusal leaves `out` open; a report closes it
            std::fclose(out);
        std::fclose(empty_listing);
        std::ifstream written("run_report_test.out", std::ios::binary);
        const std::string report{std::istreambuf_iterator<char>(written), {}};
        EXPECT_EQ(report.substr(0, 6), c.report_starts) << c.forms.count << " forms, status " << c.status;
    }
    std::remove("run_report_test.out");
}
