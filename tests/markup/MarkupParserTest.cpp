// The forgiving parser: scanning steps, accepted shapes, failures and their records, pinned case by case.
#include <gtest/gtest.h>

#include <cstring>

#include "markup/MarkupDump.h"
#include "markup/Scanning.h"

namespace tamsel::markup {
namespace {

using test::Dump;
using test::LinksHold;
using test::LocalOptions;

TEST(Scanning, StopsWhereEachStepSays) {
    struct Case {
        const char* text;
        const char* (*scan)(const char*);
        size_t stop;
    };
    const Case cases[] = {
        {" \t\n\v\f\rx", SkipBlanks, 6},
        {"  ", SkipBlanks, 2},
        {"\xa0 ", SkipBlanks, 0},
        {"ab<c", [](const char* p) { return ScanTo(p, '<'); }, 2},
        {"a\\<b<", [](const char* p) { return ScanTo(p, '<'); }, 4},   // an escaped stop is passed over
        {"\\\\<", [](const char* p) { return ScanTo(p, '<'); }, 2},    // an escaped backslash is not an escape
        {"ab\\", [](const char* p) { return ScanTo(p, '<'); }, 3},     // a trailing backslash stops at the end
        {"x\\\"y\"", [](const char* p) { return ScanTo(p, '"'); }, 4},
        {"a/b>c", [](const char* p) { return ScanToAny(p, StopSet(" >")); }, 3},
        {"a\\ b", [](const char* p) { return ScanToAny(p, StopSet(" >")); }, 2},  // backslashes don't count here
        {"abc", [](const char* p) { return ScanToAny(p, StopSet(" >")); }, 3},
    };
    for (const Case& c : cases) EXPECT_EQ(c.scan(c.text) - c.text, static_cast<ptrdiff_t>(c.stop)) << c.text;
}

struct ParseCase {
    const char* input;
    const char* tree;
    const char* rest;  // the text after the position that Parse returns
};

TEST(MarkupParse, AcceptsTheseShapes) {
    const ParseCase cases[] = {
        {"<a>", "a", ""},  // still open at the end: accepted
        {"<a>  hello  </a>xyz", "a\"hello\"", "xyz"},
        {"junk <a>x</a>", "a\"x\"", ""},
        {"<a> <b/> hi <c/> there </a>", "a\"hi\"{b,c}", ""},  // the first non-blank run only
        {"<a>x<b>y</b>z</a>", "a\"x\"{b\"y\"}", ""},
        {"<a><b>\n</b>late</a>", "a\"late\"{b}", ""},
        {"<a><b/>y", "a\"y\"{b}", ""},
        {"<a>one<b/>t\\</a>", "a\"one\"{b}", ""},  // a skipped run pays no heed to backslashes
        {"<r><a><b>text", "r{a{b\"text\"}}", ""},
        {"<a/>rest", "a", "rest"},
        {"  </x>", "", "</x>"},  // a closing tag first: no element
        {"<a x='1' y=\"2\" z=3 w >", "a[x=1,y=2,z=3,w=]", ""},
        {"<a x = \"1\" />", "a[x=1]", ""},
        {"<a x=1 x=2>", "a[x=1,x=2]", ""},
        {"<a x=1/>", "a[x=1/]", ""},  // '/' doesn't end an unquoted value: a start tag with content
        {"<a x=1\ty>", "a[x=1\ty]", ""},
        {"<a b>x y=1>", "a[b>x=,y=1]", ""},  // '>' doesn't end an attribute name
        {"<a x=\"q\\\"q\" y='it\\'s'/>", "a[x=q\"q,y=it's]", ""},
        {"<a x=\" A \" y=\"a\\\\b\" z=\"a\\b\" v=\"&lt;b&gt;\"/>", "a[x=A,y=a\\b,z=ab,v=<b>]", ""},
        {"<a>\\<b</a>", "a\"<b\"", ""},
        {"<a> &lt;b&gt; </a>", "a\"<b>\"", ""},
        {"<a>\xa0x\xa0</a>", "a\"\xa0x\xa0\"", ""},
        {"<a\tx=\"1\">", "a\tx=\"1\"", ""},  // only a space, '/' or '>' ends a name
        {"<a\n>", "a\n", ""},
        {"<a>x</  a>", "a\"x\"", ""},
        {"<a>t</a >tail", "a\"t\"", ">tail"},
        {"<r><a></a >x</r>", "r\">x\"{a}", ""},  // the '>' after "</a " is the parent's text
        {"<r>< x=\"1\"><f/></></r>", "r", ""},    // a nameless element is parsed, then dropped
        {"<r>< x=1>text", "r", ""},
        {"<>x</>", "\"x\"", ""},
        {"<?xml version=\"1.0\"?>\n<r>\n <f name=\"a\"/>\n</r>", "?xml[version=1.0,?>\n<r>\n=,<f=,name=a]",
         "\n</r>"},
    };
    for (const ParseCase& c : cases) {
        LocalOptions options;
        MarkupElement root;
        const char* end = root.Parse(c.input, options, &options.error);
        ASSERT_NE(end, nullptr) << c.input;
        EXPECT_STREQ(end, c.rest) << c.input;
        EXPECT_EQ(Dump(root), c.tree) << c.input;
        EXPECT_TRUE(LinksHold(root)) << c.input;
        EXPECT_FALSE(options.error.IsSet()) << c.input;
    }
}

struct FailureCase {
    const char* input;
    int32_t code;  // 0: fails without a record
    size_t position;
    const char* message;
    const char* tree;  // what was built before the failure stays
};

TEST(MarkupParse, FailsOnTheseShapesAndRecordsWhatTheyAre) {
    const FailureCase cases[] = {
        {"", 0, 0, "", ""},
        {"no markup", 0, 0, "", ""},
        {"<a", 0, 0, "", ""},
        {"<a x=\"1", 0, 0, "", "a[x=1]"},
        {"<a x=\"1\\", 0, 0, "", "a[x=1]"},
        {"<a x=1", 0, 0, "", "a[x=1]"},
        {"<a x ", 0, 0, "", "a[x=]"},
        {"<a>x<b/>y", 0, 0, "", "a\"x\"{b}"},  // the skipped run has no '<' after it
        {"<a>x<b", 0, 0, "", "a\"x\""},
        {"<a/ >", 1, 3, "Element must be closed.", "a"},
        {"<a/", 1, 3, "Element must be closed.", "a"},
        {"<r><a/ ></r>", 1, 6, "Element must be closed.", "r{a}"},
        {"<a>< /a>", 1, 6, "Element must be closed.", "a"},
        {"<a>x</a", 2, 6, "it must be closed with </a>", "a\"x\""},
        {"<a><b>t</b", 2, 9, "it must be closed with </b>", "a{b\"t\"}"},
        {"<a>x</b>", 3, 8, "'<a> ... </b>' is not wel-formed.", "a\"x\""},
        {"<a>x</A>", 3, 8, "'<a> ... </A>' is not wel-formed.", "a\"x\""},
        {"<a>x</a\n>", 3, 9, "'<a> ... </a\n>' is not wel-formed.", "a\"x\""},
        {"<r><br>x</r>", 3, 12, "'<br> ... </r>' is not wel-formed.", "r{br\"x\"}"},  // nothing closes implicitly
        {"<a b>", 4, 3, "<a> attribute has error ", "a"},
        {"<a ", 4, 3, "<a> attribute has error ", "a"},
        {"<a x", 4, 3, "<a> attribute has error ", "a"},
        {"<a b>x y", 4, 7, "<a> attribute has error ", "a[b>x=]"},
    };
    for (const FailureCase& c : cases) {
        LocalOptions options;
        MarkupElement root;
        EXPECT_EQ(root.Parse(c.input, options, &options.error), nullptr) << c.input;
        EXPECT_EQ(Dump(root), c.tree) << c.input;
        EXPECT_TRUE(LinksHold(root)) << c.input;
        EXPECT_EQ(options.error.Code(), c.code) << c.input;
        EXPECT_EQ(options.error.Message(), c.message) << c.input;
        EXPECT_EQ(options.error.Position(), c.code == 0 ? nullptr : c.input + c.position) << c.input;
    }
}

TEST(MarkupParse, KeepsTheFirstFailureRecorded) {
    LocalOptions options;
    const char* first = "<a/ >";
    MarkupElement root;
    ASSERT_EQ(root.Parse(first, options, &options.error), nullptr);
    ASSERT_EQ(root.Parse("<a>x</b>", options, &options.error), nullptr);
    EXPECT_EQ(options.error.Code(), 1);
    EXPECT_EQ(options.error.Position(), first + 3);
    EXPECT_EQ(options.error.Message(), "Element must be closed.");
    ASSERT_NE(root.Parse("<a/>", options, &options.error), nullptr);  // a success doesn't clear it either
    EXPECT_EQ(options.error.Code(), 1);
}

TEST(MarkupElement, ClearDropsChildrenAndAttributesButKeepsNameAndText) {
    LocalOptions options;
    MarkupElement root;
    ASSERT_NE(root.Parse("<a x=1 x=2 X=3>t<b/><c/></a>", options, &options.error), nullptr);
    EXPECT_EQ(root.FindAttribute("x")->value, "1");
    EXPECT_EQ(root.FindAttribute("X")->value, "3");
    EXPECT_EQ(root.FindAttribute("y"), nullptr);
    EXPECT_EQ(root.ChildAt(1)->name, "c");
    EXPECT_EQ(root.ChildAt(2), nullptr);
    EXPECT_EQ(root.ChildAt(-1), nullptr);
    root.Clear();
    EXPECT_EQ(Dump(root), "a\"t\"");
}

}  // namespace
}  // namespace tamsel::markup
