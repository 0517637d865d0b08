// Windows only: each code page is asked for its conversion the way
// WideCharToMultiByte takes it there; a refused call would write nothing,
// and a pattern or a UTF-16 listing would count nothing.
#include <gtest/gtest.h>

#include "platform/code_page.hpp"

TEST(code_page, flags_are_the_ones_each_code_page_takes)
{
    struct {
        UINT code_page;
        code_page_kind kind;
    } cases[] = {
        {65001, code_page_kind::every_character}, {54936, code_page_kind::every_character},
        {1252, code_page_kind::best_fit},         {850, code_page_kind::best_fit},
        {932, code_page_kind::best_fit},          {20127, code_page_kind::best_fit},
        {42, code_page_kind::no_flags},           {65000, code_page_kind::no_flags},
        {50220, code_page_kind::no_flags},        {50229, code_page_kind::no_flags},
        {57002, code_page_kind::no_flags},        {57011, code_page_kind::no_flags},
        {50230, code_page_kind::best_fit},        {57012, code_page_kind::best_fit},
    };
    for (const auto &c : cases)
        EXPECT_EQ(kind_of_code_page(c.code_page), c.kind) << c.code_page;
    EXPECT_EQ(kind_of_code_page(CP_ACP), kind_of_code_page(GetACP()));
    EXPECT_EQ(kind_of_code_page(CP_OEMCP), kind_of_code_page(GetOEMCP()));
}

TEST(code_page, exact_forms_only)
{
    char out[16];
    EXPECT_EQ(exactly_in_code_page(65001, L"\u00e9", 1, out, sizeof out), 2);
    EXPECT_EQ(exactly_in_code_page(1252, L"\u00e9", 1, out, sizeof out), 1);
    EXPECT_EQ(exactly_in_code_page(1252, L"\u0101", 1, out, sizeof out), -1);  // best fit 'a' is no form
    EXPECT_EQ(exactly_in_code_page(50220, L"a", 1, out, sizeof out), -1);      // cannot tell: none
    EXPECT_EQ(shown_in_code_page(1252, L"\u0101", 1, out, sizeof out), 1);
    EXPECT_EQ(out[0], '?');
}
