// Reply field lookup: the comment removal, which fields are candidates, and truncated replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "markup/ReplyField.h"

namespace tamsel::markup {
namespace {

using namespace std::string_literals;

const char kQueryReply[] =
    "<!-- download service reply -->\r\n"
    "<reply>\r\n"
    "  <field name=\"StatusCode\" value=\"1\"/>\r\n"
    "  <field name=\"downloadURL\" value=\"http://dl.example/get?f=a.bin&amp;k=\\\\x\"/>\r\n"
    "  <field name=\"filesize\" value=\"123456789012\"/>\r\n"
    "</reply>\r\n";

struct FieldCase {
    const char* body;
    const char* name;
    const char* expected;
};

// What GetReplyFields has first, as GetReplyField would say it: the value, or empty.
std::string FirstOf(const std::vector<std::string>& values) {
    return values.empty() ? std::string() : values.front();
}

// GetReplyField and the first of GetReplyFields are one lookup; each row of its tables holds for both.
void ExpectBothLookups(const FieldCase& c) {
    EXPECT_EQ(GetReplyField(c.body, c.name), c.expected) << c.body;
    EXPECT_EQ(FirstOf(GetReplyFields(c.body, c.name, 8)), c.expected) << "GetReplyFields: " << c.body;
}

TEST(GetReplyField, ReadsTheFirstMatchingDirectChildOfTheTopElement) {
    const FieldCase cases[] = {
        {kQueryReply, "StatusCode", "1"},
        {kQueryReply, "downloadURL", "http://dl.example/get?f=a.bin&k=\\x"},
        {kQueryReply, "filesize", "123456789012"},
        {kQueryReply, "dltimes", ""},
        {"", "a", ""},
        {"no markup at all", "a", ""},
        {"<r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></r>", "a", "1"},
        {"<r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></r>", "A", ""},
        {"<r><g><f name=\"a\" value=\"1\"/></g></r>", "a", ""},  // not a direct child
        {"<f name=\"a\" value=\"1\"/>", "a", ""},                 // the top element is no candidate
        {"<r><f name=\"a\" value=\" 42 \"/></r>", "a", "42"},
        {"<r><f name=\"a\" value=\"1&amp;2\"/></r>", "a", "1&2"},
        {"<r><f name=\" a \" value=\"1\"/></r>", "a", "1"},
        {"<r><f value=\"0\"/><f name=\"b\" value=\"2\"/><f name=\"a\" value=\"1\"/></r>", "a", "1"},
        {"<r><f name=\"a\"/><f name=\"a\" value=\"1\"/></r>", "a", ""},  // the search stops at the match
        {"<r><f name=\"a\" value=\"\"/></r>", "a", ""},
        {"<r><f name=\"a\" value=\"1\"/></x>", "a", ""},  // any failure empties every lookup
        {"<r><f name=\"a\" value=\"1\"/>", "a", "1"},      // still open at the end: fine
        {"<?xml version=\"1.0\"?>\n<r>\n <f name=\"a\" value=\"1\"/>\n</r>", "a", ""},
        {"<r><f value=\"1\" name=\"a\"/></r>", "a", "1"},               // "value" may come first
        {"<r><f name=\"a\" value=\"1\" value=\"2\"/></r>", "a", "1"},   // the first "value" counts
        {"<r>< name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></r>", "a", "2"},  // nameless: no field
        {"<r><f name value=\"1\"/></r>", "", "1"},                       // a "name" without '=' is empty
        {"<r><f name=\"a&amp;b\" value=\"1\"/></r>", "a&b", "1"},       // names compare once processed
        {"<r><f name=\"a&amp;b\" value=\"1\"/></r>", "a&amp;b", ""},
        {"<r><f name=\"a\\\\b\" value=\"&lt;\"/></r>", "a\\b", "<"},
        // A text that escape removal leaves blank is still blank, so the next run is read as text,
        // where "\<" hides its '<'; after a real text the run is skipped, and "</r>" closes the top.
        {"<r>\\ <f/>\\</r><f name=\"a\" value=\"1\"/></r>", "a", "1"},
        {"<r>x <f/>\\</r><f name=\"a\" value=\"1\"/></r>", "a", ""},
    };
    for (const FieldCase& c : cases) ExpectBothLookups(c);
}

TEST(GetReplyField, RemovesOnlyTheFirstComment) {
    const FieldCase cases[] = {
        {"<!-- note --><r><f name=\"a\" value=\"1\"/></r>", "a", "1"},
        {"junk\r\n<!-- note --><r><f name=\"a\" value=\"1\"/></r>", "a", "1"},
        {"<r><!-- note --><f name=\"a\" value=\"1\"/></r>", "a", "1"},
        // The second comment parses as an element "!--" whose attribute list runs into the end.
        {"<r><!-- x --><f name=\"a\" value=\"1\"/><!-- y --></r>", "a", ""},
        // The first "-->" ends before the first "<!--": everything from the "<!--" on goes.
        {"a --> b <!-- c --> <r><f name=\"a\" value=\"1\"/></r>", "a", ""},
        {"<r>--><f name=\"a\" value=\"1\"/><!--</r>", "a", "1"},
        // The first "-->" ends exactly where the "<!--" begins: nothing goes, and "!--<f" is a field.
        {"<r>--><!--<f name=\"a\" value=\"1\"/></r>", "a", "1"},
        // No "-->": nothing goes, and the "!--" element carries the field's attributes.
        {"<r><!-- <f name=\"a\" value=\"1\"/></r>", "a", "1"},
        {"<!-- <r><f name=\"a\" value=\"1\"/></r>", "a", ""},
    };
    for (const FieldCase& c : cases) ExpectBothLookups(c);
}

TEST(GetReplyField, ParsesTheBodyUpToItsFirstZeroByte) {
    std::string body = "<r><f name=\"a\" value=\"1\"/>";
    body += '\0';
    body += "</x>";
    EXPECT_EQ(GetReplyField(body, "a"), "1");
    body.insert(0, std::string("\0", 1));
    EXPECT_EQ(GetReplyField(body, "a"), "");
    // A zero byte before the first comment still ends the text, comment or not.
    EXPECT_EQ(GetReplyField("x\0<!-- c --><r><f name=\"a\" value=\"1\"/></r>"s, "a"), "");
    EXPECT_EQ(GetReplyField("x<!-- \0 --><r><f name=\"a\" value=\"1\"/></r>"s, "a"), "1");
}

TEST(GetReplyField, NoNameFindsNothing) {
    EXPECT_EQ(GetReplyField("<r><f name=\"a\" value=\"body\"/></r>", nullptr), "");
}

// Cut anywhere, a reply never crashes the reader and never yields a wrong value: a field reads as its
// value once its tag is complete, and any cut inside a tag fails the whole parse.
TEST(GetReplyField, TruncatedRepliesGiveTheValueOrNothing) {
    const std::string reply = kQueryReply;
    for (size_t length = 0; length <= reply.size(); ++length) {
        const std::string value = GetReplyField(reply.substr(0, length), "StatusCode");
        EXPECT_TRUE(value.empty() || value == "1") << length << ": " << value;
    }
    struct Cut {
        const char* after;  // the cut falls just after the first occurrence of this text
        const char* expected;
    };
    const Cut cuts[] = {
        {"<reply>", ""},
        {"<field name=\"StatusCode\" value=\"", ""},
        {"value=\"1\"", ""},
        {"value=\"1\"/", ""},
        {"value=\"1\"/>", "1"},
        {"value=\"1\"/>\r\n  <", ""},
        {"value=\"1\"/>\r\n  <field", ""},
        {"value=\"123456789012\"/>\r\n", "1"},
        {"</", ""},
        {"</reply", ""},
        {"</reply>", "1"},
    };
    for (const Cut& cut : cuts) {
        const size_t at = reply.find(cut.after);
        ASSERT_NE(at, std::string::npos) << cut.after;
        EXPECT_EQ(GetReplyField(reply.substr(0, at + std::strlen(cut.after)), "StatusCode"), cut.expected)
            << "cut after " << cut.after;
    }
}

const char kMirrorReply[] =
    "<!-- download service reply -->\r\n"
    "<reply>\r\n"
    "  <field name=\"StatusCode\" value=\"1\"/>\r\n"
    "  <field name=\"downloadURL\" value=\"http://files.example/a.bin\"/>\r\n"
    "  <field name=\"mirrorURL\" value=\"http://m1.example/a.bin?k=1&amp;t=2\"/>\r\n"
    "  <field name=\"filesize\" value=\"42\"/>\r\n"
    "  <field name=\"mirrorURL\" value=\" http://m2.example/a.bin \"/>\r\n"
    "</reply>\r\n";

// Nine matches: one more than a caller asking for 8.
const char kNineFields[] =
    "<r><f name=\"m\" value=\"1\"/><f name=\"m\" value=\"2\"/><f name=\"m\" value=\"3\"/>"
    "<f name=\"m\" value=\"4\"/><f name=\"m\" value=\"5\"/><f name=\"m\" value=\"6\"/>"
    "<f name=\"m\" value=\"7\"/><f name=\"m\" value=\"8\"/><f name=\"m\" value=\"9\"/></r>";

struct FieldsCase {
    const char* body;
    const char* name;
    size_t limit;
    std::vector<std::string> expected;
    const char* reason;
};

TEST(GetReplyFields, ReadsEachMatchingDirectChildInDocumentOrderUpToTheLimit) {
    const FieldsCase cases[] = {
        {kMirrorReply, "mirrorURL", 8, {"http://m1.example/a.bin?k=1&t=2", "http://m2.example/a.bin"},
         "in document order, each value processed, other fields between them passed over"},
        {kMirrorReply, "mirrorURL", 1, {"http://m1.example/a.bin?k=1&t=2"}, "the limit counts matches"},
        {kMirrorReply, "mirrorURL", 0, {}, "a limit of 0 asks for nothing"},
        {kMirrorReply, "downloadURL", 8, {"http://files.example/a.bin"}, "a single match"},
        {kMirrorReply, "mirrorurl", 8, {}, "names compare case-sensitively"},
        {kMirrorReply, "sha256", 8, {}, "no such field"},
        {kNineFields, "m", 8, {"1", "2", "3", "4", "5", "6", "7", "8"}, "the ninth is passed over"},
        {kNineFields, "m", 9, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, "exactly as many as asked"},
        {kNineFields, "m", 100, {"1", "2", "3", "4", "5", "6", "7", "8", "9"}, "fewer than asked"},
        {"<r><f name=\"a\"/><f name=\"a\" value=\"\"/><f name=\"a\" value=\"3\"/></r>", "a", 8, {"", "", "3"},
         "a match without a value, or with an empty one, keeps its place"},
        {"<r><f name=\"a\" value=\"1\"/><g><f name=\"a\" value=\"2\"/></g><f name=\"a\" value=\"3\"/></r>", "a", 8,
         {"1", "3"}, "only direct children of the top element"},
        {"<f name=\"a\" value=\"1\"><f name=\"a\" value=\"2\"/></f>", "a", 8, {"2"},
         "the top element is no candidate"},
        {"<r><f name=\"b\" name=\"a\" value=\"1\"/><f name=\" a \" value=\"2\"/></r>", "a", 8, {"2"},
         "only a field's first \"name\" counts, trimmed"},
        {"<r><f value=\"1\" name=\"a\" value=\"x\"/><f name=\"a\" value=\"\\\\2\"/></r>", "a", 8, {"1", "\\2"},
         "the first \"value\", wherever it stands; escapes removed"},
        {"<r>< name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></r>", "a", 8, {"2"}, "a nameless element is no field"},
        {"<r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/>", "a", 8, {"1", "2"},
         "still open at the end: fine"},
    };
    for (const FieldsCase& c : cases) EXPECT_EQ(GetReplyFields(c.body, c.name, c.limit), c.expected) << c.reason;
}

// What makes GetReplyField read nothing makes GetReplyFields read nothing at all, even a failure that
// comes after the last match it would keep.
TEST(GetReplyFields, AnUnreadableReplyGivesNoValues) {
    const FieldsCase cases[] = {
        {"", "a", 8, {}, "no body"},
        {"<r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></x>", "a", 8, {}, "a mismatched closing tag"},
        {"<r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></x>", "a", 1, {},
         "a failure past the limit still counts"},
        {"<r><!-- x --><f name=\"a\" value=\"1\"/><!-- y --></r>", "a", 8, {},
         "the second comment is an element whose attributes run into the end"},
        {"a --> b <!-- c --> <r><f name=\"a\" value=\"1\"/></r>", "a", 8, {}, "the comment cut takes the rest"},
        {"<!-- note --><r><f name=\"a\" value=\"1\"/><f name=\"a\" value=\"2\"/></r>", nullptr, 8, {}, "no name"},
    };
    for (const FieldsCase& c : cases) EXPECT_EQ(GetReplyFields(c.body, c.name, c.limit), c.expected) << c.reason;
    EXPECT_EQ(GetReplyFields("<r><f name=\"a\" value=\"1\"/>\0<f name=\"a\" value=\"2\"/></r>"s, "a", 8),
              std::vector<std::string>{"1"})
        << "the parse ends at the first zero byte";
}

// Cut anywhere, a reply with two mirrors gives both, the first, or nothing: never a value cut short, and
// never the second without the first.
TEST(GetReplyFields, TruncatedRepliesGiveALeadingPartOfTheValues) {
    const std::string reply = kMirrorReply;
    const std::vector<std::string> whole = GetReplyFields(reply, "mirrorURL", 8);
    ASSERT_EQ(whole.size(), 2u);
    size_t sawFirstOnly = 0;
    for (size_t length = 0; length <= reply.size(); ++length) {
        const std::vector<std::string> values = GetReplyFields(reply.substr(0, length), "mirrorURL", 8);
        ASSERT_LE(values.size(), whole.size()) << length;
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], whole[i]) << length;
        if (values.size() == 1) ++sawFirstOnly;
    }
    EXPECT_GT(sawFirstOnly, 0u) << "some cut should fall between the two mirrors";
}

}  // namespace
}  // namespace tamsel::markup
