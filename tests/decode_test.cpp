// The input's decoding: UTF-16 with a mark becomes UTF-8 (the OEM code page
// is checked through cmd.exe by tests/windows/encodings), malformed
// units become U+FFFD, other input passes untouched, and the text-file
// rules apply to the decoded text. Checked with raw reads of every size
// against literal texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "input/decode.hpp"
#include "input/utf16.hpp"
#include "test_support.hpp"

namespace {

std::string le(const std::u16string &text, bool mark = true)
{
    std::string raw = mark ? "\xFF\xFE" : "";
    for (char16_t unit : text) {
        raw += static_cast<char>(unit & 0xFF);
        raw += static_cast<char>(unit >> 8);
    }
    return raw;
}

std::string be(const std::u16string &text)
{
    std::string raw = "\xFE\xFF";
    for (char16_t unit : text) {
        raw += static_cast<char>(unit >> 8);
        raw += static_cast<char>(unit & 0xFF);
    }
    return raw;
}

static input_decoder decoder;

// Everything the decoder gives for `raw`, read `read_most` bytes at a time
// into 64-byte blocks, so that units, pairs and CR LF cross every boundary.
std::string drain(const std::string &raw, size_t read_most, bool text_file_rules)
{
    memory_source source{raw.data(), raw.size(), 0, read_most};
    start_decoder(decoder, read_memory, &source, utf16_to_utf8, text_file_rules);
    std::string text;
    char block[64];
    for (long got; (got = read_decoded(&decoder, block, sizeof block)) > 0;)
        text.append(block, static_cast<size_t>(got));
    return text;
}

}  // namespace

TEST(decode, marks_malformed_units_and_text_rules)
{
    struct {
        const char *name;
        std::string raw;
        bool text_file_rules;
        std::string text;
    } cases[] = {
        {"no_mark_untouched", "a\r\nb\x1a", false, "a\r\nb\x1a"},
        {"utf8_mark_is_text", "\xEF\xBB\xBF a", false, "\xEF\xBB\xBF a"},
        {"one_byte_no_mark", "\xFF", false, "\xFF"},
        {"half_a_mark_is_bytes", "\xFF\x41 Active \n", false, "\xFF\x41 Active \n"},
        {"mark_only", "\xFF\xFE", false, ""},
        {"little_endian", le(u"a Активно\n"), false, "a Активно\n"},
        {"big_endian", be(u"a Активно\n"), false, "a Активно\n"},
        {"nul_unit_kept", le(std::u16string(u"a\0b", 3)), false, std::string("a\0b", 3)},
        {"surrogate_pair", le(u"\U0001F600"), false, "\U0001F600"},
        // Each side of the UTF-8 encoder's lengths and of the surrogate block.
        {"encoded_length_boundaries", le(u"\u007F\u0080\u07FF\u0800\uD7FF\uE000\uFFFF\U00010000"), false,
         "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80"},
        {"lone_high_at_end", le(u"a") + "\x3D\xD8", false, "a\uFFFD"},
        {"lone_high_before_letter", le(u"a") + "\x3D\xD8" + le(u"b", false), false, "a\uFFFDb"},
        {"lone_low", le(u"a") + std::string("\x00\xDE", 2) + le(u"b", false), false, "a\uFFFDb"},
        {"odd_last_byte", le(u"ab") + "c", false, "ab\uFFFD"},
        {"crlf_stays_without_rules", le(u"a\r\n"), false, "a\r\n"},
        {"text_rules_on_bytes",
         "a\r\nb\r\r\nc\r\x1a"
         "d\n",
         true, "a\nb\r\nc\r"},
        {"text_rules_cr_at_end", "a\r", true, "a\r"},
        {"text_rules_on_decoded_text",
         le(u"a\r\nb\x1a"
            u"c"),
         true, "a\nb"},
        // U+041A holds the byte 0x1A and U+0D0A the pair CR LF, in either order.
        {"unit_bytes_are_not_text_rules", le(u"\u041A\u0D0A\u0A0D"), true, "\u041A\u0D0A\u0A0D"},
    };
    for (const auto &c : cases) {
        for (size_t read_most : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, SIZE_MAX})
            EXPECT_EQ(drain(c.raw, read_most, c.text_file_rules), c.text) << c.name << ", reads of " << read_most;
    }
}

// Random UTF-16 listings, little- and big-endian, with long lines, NUL
// characters, CR LF, malformed units and no final newline, scanned through
// the decoder against scanning their text, which is built beside them from
// each word's UTF-8 as the compiler writes it.
TEST(decode, utf16_listings_match_reference)
{
    std::mt19937_64 random(15);
    const struct {
        std::u16string units;
        std::string text;
    } words[] = {
        {u" Active ", " Active "},
        {u" Активно ", " Активно "},
        {u"x", "x"},
        {u"\n", "\n"},
        {u"\r\n", "\r\n"},
        {std::u16string(1, u'\0'), std::string(1, '\0')},
        {u"\U0001F600", "\U0001F600"},
        {u"アクティブ", "アクティブ"},
        {std::u16string(700, u'y'), std::string(700, 'y')},
        {u"\xD800", "\uFFFD"},  // a high half with no low half after it
    };
    for (int round = 0; round < 300; round++) {
        std::u16string units;
        std::string text;
        const size_t target = random() % 4 == 0 ? 200000 : random() % 3000;
        while (units.size() < target) {
            const auto &word = words[random() % std::size(words)];
            units += word.units;
            text += word.text;
        }
        std::string raw = random() % 2 ? le(units) : be(units);
        if (random() % 8 == 0) {
            raw += 'z';  // half a unit
            text += "\uFFFD";
        }
        const std::string pattern = random() % 2 ? " Active " : " Активно ";
        const scan_outcome expected = reference_scan(text, pattern);
        const size_t read_most = 1 + random() % (random() % 2 ? 700 : 300000);
        memory_source source{raw.data(), raw.size(), 0, read_most};
        start_decoder(decoder, read_memory, &source, utf16_to_utf8, false);
        scan_result result = scan_input(one_form(pattern.c_str()), read_decoded, &decoder);
        ASSERT_EQ((scan_outcome{result.match_count, result.captured}), expected)
            << "round " << round << ", reads of " << source.read_most;
    }
}

// What Windows does before converting to the console's code page: a pair
// stays one character (an emoji in a user name), a lone half becomes U+FFFD.
TEST(decode, repair_keeps_pairs_and_replaces_lone_surrogates)
{
    uint16_t units[] = {0xD83D, 0xDE00, 0xDE00, 0xD800, 'a', 0xD800};
    const uint16_t expected[] = {0xD83D, 0xDE00, 0xFFFD, 0xFFFD, 'a', 0xFFFD};
    repair_utf16(units, std::size(units));
    EXPECT_TRUE(std::equal(units, units + std::size(units), expected));
}
