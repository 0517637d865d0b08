// Limits convert like atoi but saturate; arguments are taken by position.
#include <gtest/gtest.h>

#include <cstring>

#include "settings.hpp"

TEST(parse_limit, converts_like_atoi_and_saturates)
{
    struct {
        const char *text;
        int32_t limit;
    } cases[] = {
        {"", 0},
        {"abc", 0},
        {"12abc", 12},
        {"  +12abc", 12},
        {" \t\n\v\f\r42", 42},
        {"+7", 7},
        {"-3", -3},
        {"-0", 0},
        {"+", 0},
        {"- 3", 0},
        {"--3", 0},
        {"3 4", 3},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"99999999999999999999", 2147483647},
        {"-99999999999999999999", INT32_MIN},
        {"0000000000000000000000000061", 61},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parse_limit(c.text), c.limit) << '"' << c.text << '"';
}

TEST(parse_settings, fills_by_position_from_the_left)
{
    const char *argv[] = {"active-users", " Aktiv ", "10", "20", "30", nullptr};
    struct {
        int argc;
        const char *pattern;
        int32_t yellow, red;
    } cases[] = {
        {0, " Active ", 60, 65}, {1, " Active ", 60, 65}, {2, " Aktiv ", 60, 65},
        {3, " Aktiv ", 10, 65},  {4, " Aktiv ", 10, 20},  {5, " Aktiv ", 10, 20},
    };
    for (const auto &c : cases) {
        report_settings settings = parse_settings(c.argc, argv);
        EXPECT_STREQ(settings.pattern, c.pattern) << c.argc;
        EXPECT_EQ(settings.yellow_limit, c.yellow) << c.argc;
        EXPECT_EQ(settings.red_limit, c.red) << c.argc;
    }
}

TEST(parse_settings, borrows_the_pattern_verbatim)
{
    const char *argv[] = {"active-users", "", nullptr};
    EXPECT_EQ(parse_settings(2, argv).pattern, argv[1]);
    const char *dashed[] = {"active-users", "-x", nullptr};
    EXPECT_EQ(parse_settings(2, dashed).pattern, dashed[1]);
}
