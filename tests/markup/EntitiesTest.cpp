// Escape removal, entity decoding and value processing, case by case.
#include <gtest/gtest.h>

#include "markup/Entities.h"
#include "markup/MarkupElement.h"
#include "markup/MarkupDump.h"

namespace tamsel::markup {
namespace {

using test::LocalOptions;

struct TransformCase {
    const char* input;
    const char* expected;
};

TEST(RemoveEscapes, DropsEachEscapeAndKeepsTheNextCharacterLiterally) {
    const TransformCase cases[] = {
        {"", ""},          {"plain", "plain"}, {"a\\\\b", "a\\b"}, {"a\\b", "ab"},
        {"a\\", "a"},      {"\\n", "n"},       {"\\\\\\", "\\"},   {"\\\\\\\\", "\\\\"},
        {"\\\"q\\\"", "\"q\""},
    };
    for (const TransformCase& c : cases) {
        const std::string input = c.input;
        const std::string result = RemoveEscapes(input.data(), input.data() + input.size(), '\\');
        EXPECT_EQ(result, c.expected) << "input: " << c.input;
        EXPECT_EQ(result.size(), std::string(c.expected).size()) << "input: " << c.input;
    }
}

TEST(RemoveEscapes, UsesTheGivenEscapeCharacterOnly) {
    const std::string input = "a%%b%c\\d%";
    EXPECT_EQ(RemoveEscapes(input.data(), input.data() + input.size(), '%'), "a%bc\\d");
}

TEST(DecodeEntities, DecodesTheFiveReferencesInOnePassAndPassesTheRestThrough) {
    const TransformCase cases[] = {
        {"", ""},
        {"a&amp;b", "a&b"},
        {"&quot;x&apos;", "\"x'"},
        {"&lt;b&gt;", "<b>"},
        {"&amp;lt;", "&lt;"},          // single pass: output is not decoded again
        {"&lt ", "&lt "},              // the ';' belongs to the reference
        {"&lt", "&lt"},
        {"&#60;&nbsp;&AMP;&Lt;", "&#60;&nbsp;&AMP;&Lt;"},
        {"a&", "a&"},
        {"&&amp;&", "&&&"},
        {"&quot&quot;", "&quot\""},
        {"\x80&gt;\xff", "\x80>\xff"},
    };
    for (const TransformCase& c : cases) {
        EXPECT_EQ(DecodeEntities(DefaultEntityTable(), c.input), c.expected) << "input: " << c.input;
    }
}

TEST(DecodeEntities, FollowsTheTableItIsGiven) {
    // A caller's table: rows tried in order, the first match wins, the row's length is what it eats.
    const EntityEntry rows[] = {{'X', "&x;", 3}, {'Y', "&x;y", 4}, {'L', "&long;", 99}, {'Z', "&z;", 0}};
    const EntityTable table{rows, 4};
    EXPECT_EQ(DecodeEntities(table, "&x;y&amp;"), "Xy&amp;");
    EXPECT_EQ(DecodeEntities(table, "a&long;"), "aL");  // a length past the end stops at the end
    EXPECT_EQ(DecodeEntities(table, "&z;"), "Zz;");     // a zero length still moves on
    EXPECT_EQ(DecodeEntities(table, nullptr), "");
}

struct RangeCase {
    const char* input;
    const char* expected;
};

TEST(CopyRange, TrimsThenRemovesEscapesThenDecodes) {
    const RangeCase cases[] = {
        {"  A  ", "A"},
        {"\t\n\v\f\r x \r\n", "x"},
        {"\xa0x\xa0", "\xa0x\xa0"},  // bytes above 0x7f are not whitespace
        {"\\&amp;", "&"},            // the escape goes first, so it can't protect a reference
        {"&amp\\;", "&"},            // ...and removing it can complete one
        {" A\\ ", "A"},              // an escaped blank at the end is trimmed before the escape goes
        {"\\ A", " A"},              // at the start it is kept: trimming met the backslash first
    };
    LocalOptions options;
    for (const RangeCase& c : cases) {
        const std::string input = c.input;
        std::string target;
        CopyRange(input.data(), input.data() + input.size(), target, options);
        EXPECT_EQ(target, c.expected) << "input: " << c.input;
    }
}

TEST(CopyRange, ABlankStretchKeepsThePreviousContent) {
    LocalOptions options;
    std::string target = "before";
    const std::string blank = " \t ";
    CopyRange(blank.data(), blank.data() + blank.size(), target, options);
    EXPECT_EQ(target, "before");
    options.trim = false;
    CopyRange(blank.data(), blank.data() + blank.size(), target, options);
    EXPECT_EQ(target, " \t ");
}

TEST(CopyRange, EachStepCanBeSwitchedOff) {
    const std::string input = " \\&amp; ";
    MarkupOptions none;
    std::string target;
    CopyRange(input.data(), input.data() + input.size(), target, none);
    EXPECT_EQ(target, input);
    none.decode = true;  // without a table nothing is decoded, whatever the flag says
    CopyRange(input.data(), input.data() + input.size(), target, none);
    EXPECT_EQ(target, input);
    none.escape = '\\';
    none.entities = &DefaultEntityTable();
    CopyRange(input.data(), input.data() + input.size(), target, none);
    EXPECT_EQ(target, " & ");
}

}  // namespace
}  // namespace tamsel::markup
