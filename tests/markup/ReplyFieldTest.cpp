// Reply field lookup: the comment removal, which fields are candidates, and truncated replies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

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
    for (const FieldCase& c : cases) EXPECT_EQ(GetReplyField(c.body, c.name), c.expected) << c.body;
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
    for (const FieldCase& c : cases) EXPECT_EQ(GetReplyField(c.body, c.name), c.expected) << c.body;
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

}  // namespace
}  // namespace tamsel::markup
