// The text literals: mold of file!, url!, tag!, email! and ref!, and the percent decoding that the
// lexer applies to url! and file! tokens.
#include <gtest/gtest.h>

#include <random>

#include "datatypes/url.hpp"
#include "literal_helpers.hpp"
#include "runtime/collector.hpp"

namespace zel {
namespace {

using test::mold_text;
using test::text_value;

struct text_row {
    const char* text;
    const char* mold;
};

TEST(FileText, BareUnlessACharacterNeedsQuotesThenEscapedInside) {
    text_row rows[] = {
        {"a/b.txt", "%a/b.txt"},
        {"", "%\"\""},
        {"my file.txt", "%\"my file.txt\""},
        {"caf\u00e9/\u00fcber", "%caf\u00e9/\u00fcber"},
        {"50%", "%\"50%\""},
        {"a;b", "%\"a;b\""},
        {"dir/", "%dir/"},
        {"a,b=c+d'e#f$g&h*i!j?k~l", "%a,b=c+d'e#f$g&h*i!j?k~l"},
        // Characters that end an unquoted file are quoted as well.
        {"a:b", "%\"a:b\""},
        {"x(1)", "%\"x(1)\""},
        {"user@host", "%\"user@host\""},
        // Inside quotes: what would end or change the quoted text is escaped.
        {"say \"hi\"", "%\"say ^(22)hi^(22)\""},
        {"a^b", "%\"a^^b\""},
        {"two\nlines", "%\"two^/lines\""},
        {"tab\there", "%\"tab\there\""},
    };
    for (const text_row& r : rows) {
        EXPECT_EQ(mold_text(text_value(r.text, type_id::file)), r.mold) << r.text;
    }
    std::string with_nul("nul\0x", 5);
    EXPECT_EQ(mold_text(text_value(with_nul, type_id::file)), "%\"nul^(00)x\"");
}

TEST(FileText, MoldsFromTheHead) {
    test::held_cell f = text_value("dir/my file", type_id::file);
    f.w1 = 4;
    EXPECT_EQ(mold_text(f), "%\"my file\"");
    f.w1 = 7;
    EXPECT_EQ(mold_text(f), "%file");
}

TEST(UrlText, PercentEncodesOutsideTheUrlSet) {
    text_row rows[] = {
        {"http://host/a b", "http://host/a%20b"},
        {"http://host/caf\u00e9", "http://host/caf%C3%A9"},
        {"http://x.org/p?q=1&r=a/b:c@d#top", "http://x.org/p?q=1&r=a/b:c@d#top"},
        {"ftp://h/100%", "ftp://h/100%25"},
        {"http://h/<a>[b]{c}|^\\`\"", "http://h/%3Ca%3E%5Bb%5D%7Bc%7D%7C%5E%5C%60%22"},
        // The url syntax ends a url at a parenthesis.
        {"http://h/(x)", "http://h/%28x%29"},
        {"mailto:a\tb", "mailto:a%09b"},
    };
    for (const text_row& r : rows) {
        EXPECT_EQ(mold_text(text_value(r.text, type_id::url)), r.mold) << r.text;
    }
}

std::u32string decoded(const std::string& text) {
    cell target = test::make_text(U"");
    gc::root keep(&target); // decoding grows it
    const u8* p = reinterpret_cast<const u8*>(text.data());
    url::percent_decode(p, p + text.size(), &target);
    return test::text_of(target);
}

TEST(UrlText, PercentDecodingJoinsUtf8EscapesAndKeepsTheRest) {
    struct row {
        const char* text;
        std::u32string expected;
    } rows[] = {
        {"%C3%A9", U"\u00e9"},
        {"a%20b", U"a b"},
        {"%41%62", U"Ab"},
        {"%E2%82%AC!", U"\u20ac!"},
        {"%F0%9F%98%80", U"\U0001F600"},
        {"%C3x", U"%C3x"},
        {"%zz%4", U"%zz%4"},
        // An incomplete sequence keeps its "%"; a lone continuation byte is its own code point.
        {"%E2%82", U"%E2\u0082"},
        {"%80", U"\u0080"},
        {"%C3%41", U"\uFFFE"},
        {"%C0%80", U"\uFFFE"},
        {"caf\u00e9%21", U"caf\u00e9!"},
        {"100%", U"100%"},
    };
    for (const row& r : rows) EXPECT_EQ(decoded(r.text), r.expected) << r.text;
}

// What mold escapes, the lexer's decoding gives back.
TEST(UrlText, MoldThenDecodeGivesTheTextBack) {
    std::mt19937 rng(7);
    const char32_t alphabet[] = U"az09 %()/:?#@!'\"<>[]{}|^\\`~\u00e9\u20ac\U0001F600\t";
    for (int i = 0; i < 300; i++) {
        std::u32string text = U"http://h/";
        for (int k = rng() % 12; k > 0; k--) text += alphabet[rng() % (std::size(alphabet) - 1)];
        cell value = test::make_text(text, 4);
        value.header = type_id::url;
        EXPECT_EQ(decoded(mold_text(value)), text);
    }
}

TEST(TagText, BetweenAngleBracketsUnescaped) {
    text_row rows[] = {
        {"a href=\"x\"", "<a href=\"x\">"},
        {"", "<>"},
        {"br/", "<br/>"},
    };
    for (const text_row& r : rows) {
        EXPECT_EQ(mold_text(text_value(r.text, type_id::tag)), r.mold);
        EXPECT_EQ(test::form_text(text_value(r.text, type_id::tag)), r.mold);
    }
}

TEST(TagText, PartLimitCountsTheBrackets) {
    test::held_cell value = text_value("abcdef", type_id::tag);
    test::held_cell buffer;
    out::new_string(&buffer);
    cell part;
    init_integer(&part, 4);
    i32 left = actions::mold_typed(&value, &buffer, false, false, false, &part, 4, 0);
    EXPECT_EQ(utf8::encode_string(&buffer), "<abc>");
    EXPECT_EQ(left, -4);
}

TEST(EmailAndRefText, BareAddressAndAtSign) {
    EXPECT_EQ(mold_text(text_value("user@example.com", type_id::email)), "user@example.com");
    EXPECT_EQ(mold_text(text_value("abc", type_id::ref)), "@abc");
    EXPECT_EQ(mold_text(text_value("\u00e9t\u00e9", type_id::ref)), "@\u00e9t\u00e9");
}

} // namespace
} // namespace zel
