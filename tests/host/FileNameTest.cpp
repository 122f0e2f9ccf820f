// File names taken from download URLs: what `get` writes to, and what it refuses.
#include "host/FileName.h"

#include <gtest/gtest.h>

namespace tamsel::host {
namespace {

struct UrlCase {
    const char* url;
    const char* name;  // "" when refused
};

TEST(FileNameFromUrl, TakesTheLastPathSegment) {
    const UrlCase cases[] = {
        {"http://files.norvik.example/files/demo.bin", "demo.bin"},
        {"ftp://127.0.0.1:2121/manual.pdf", "manual.pdf"},
        {"https://h:8443/a/b/c/setup-1.2.exe", "setup-1.2.exe"},
        {"http://h/files/demo.bin?token=a/b.exe", "demo.bin"},  // the query's slashes are not path
        {"http://h/files/demo.bin#part/2", "demo.bin"},
        {"http://h/my%20file.bin", "my%20file.bin"},  // nothing is unescaped
        {"http://h/noext", "noext"},
    };
    for (const UrlCase& c : cases) {
        EXPECT_EQ(FileNameFromUrl(c.url), c.name) << c.url;
    }
}

TEST(FileNameFromUrl, RefusesUrlsWithoutAFileName) {
    const char* const urls[] = {
        "",
        "files/demo.bin",                 // no scheme
        "http://files.norvik.example",    // no path
        "http://files.norvik.example/",   // empty segment
        "http://h/files/",                // a folder
        "http://h?download=/demo.bin",    // the slash belongs to the query
        "http://h#/demo.bin",
        "http://h/files/..",
        "http://h/files/.",
        "http://h/files/a:b.bin",         // an alternate stream on Windows
        "http://h/files/nul",             // a device, not a file
        "http://h/files/demo.bin.",       // Windows would drop the dot
    };
    for (const char* url : urls) {
        EXPECT_EQ(FileNameFromUrl(url), "") << url;
    }
}

TEST(IsUsableFileName, RefusesWhatWindowsCannotHold) {
    const char* const refused[] = {"", ".", "..", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\\b", "a/b",
                                   "tab\there", "trailing ", "trailing.", "CON", "con.txt", "Com1.log",
                                   "LPT9", "aux"};
    for (const char* name : refused) {
        EXPECT_FALSE(IsUsableFileName(name)) << '"' << name << '"';
    }
    const char* const accepted[] = {"demo.bin", ".hidden", "a b.bin", "CONSOLE.txt", "com10", "lpt",
                                    "naïve.bin", "x..y", "%41"};
    for (const char* name : accepted) {
        EXPECT_TRUE(IsUsableFileName(name)) << '"' << name << '"';
    }
}

TEST(ShowControlCharacters, WritesEachAsItsHexEscapeAndNothingElse) {
    const struct {
        std::string text;
        const char* shown;
    } cases[] = {
        {"http://h/f.bin\r\nX-Injected: 1", "http://h/f.bin\\x0D\\x0AX-Injected: 1"},
        {std::string("nul\0tab\tdel\x7f", 12), "nul\\x00tab\\x09del\\x7F"},
        {"http://h/na\xC3\xAFve \\x41.bin", "http://h/na\xC3\xAFve \\x41.bin"},  // UTF-8 and a backslash stay
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ShowControlCharacters(c.text), c.shown) << c.shown;
        EXPECT_EQ(HasControlCharacter(c.text), c.text != c.shown) << c.shown;
    }
}

TEST(JoinPath, PutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(JoinPath("C:\\dl", "a.bin"), "C:\\dl\\a.bin");
    EXPECT_EQ(JoinPath("C:\\dl\\", "a.bin"), "C:\\dl\\a.bin");
    EXPECT_EQ(JoinPath("Z:/tmp/", "a.bin"), "Z:/tmp/a.bin");
    EXPECT_EQ(JoinPath("C:\\", "a.bin"), "C:\\a.bin");
    EXPECT_EQ(JoinPath("dl", "a.bin"), "dl\\a.bin");
}

}  // namespace
}  // namespace tamsel::host
