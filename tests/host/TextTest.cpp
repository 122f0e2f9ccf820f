// The host's UTF-8 and UTF-16 conversions: names in other scripts and outside the BMP, broken input.
#include "host/Text.h"

#include <gtest/gtest.h>

namespace tamsel::host {
namespace {

TEST(Text, NamesInAnyScriptSurviveTheRoundTrip) {
    // Cyrillic, CJK, and a character outside the BMP (a surrogate pair in UTF-16).
    const std::wstring wide = L"\u0417\u0430\u0433\u0440\u0443\u0437\u043a\u0438 \u4e0b\u8f7d \U0001F4E6";
    const std::string utf8 = Narrow(wide);
    EXPECT_EQ(utf8, "\xD0\x97\xD0\xB0\xD0\xB3\xD1\x80\xD1\x83\xD0\xB7\xD0\xBA\xD0\xB8 \xE4\xB8\x8B\xE8\xBD\xBD "
                    "\xF0\x9F\x93\xA6");
    EXPECT_EQ(Widen(utf8), wide);
    EXPECT_EQ(Widen(""), L"");
    EXPECT_EQ(Narrow(L""), "");
}

TEST(Text, InvalidUtf8BecomesTheReplacementCharacter) {
    // A Latin-1 byte is no UTF-8: the name must not vanish or be cut at it.
    EXPECT_EQ(Widen("caf\xE9.bin"), L"caf\uFFFD.bin");
}

}  // namespace
}  // namespace tamsel::host
