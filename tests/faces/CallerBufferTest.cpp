// The rule for text results in caller-owned buffers: whole with its zero, or not at all.
#include "faces/CallerBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace tamsel::faces {
namespace {

constexpr char CANARY = '\x5A';

struct BufferCase {
    std::string text;
    ULONG size;
    HRESULT expected;
};

TEST(CopyToCallerBuffer, CopiesWithTheZeroOnlyWhenItFitsWhole) {
    const std::string url = "http://dl.norvik.example/a b?x=1&y=\"2\"";
    const ULONG length = static_cast<ULONG>(url.size());
    const BufferCase cases[] = {
        {url, length + 1, S_OK},
        {url, length + 5, S_OK},
        {url, length, AGENT_E_BUFFER_TOO_SMALL},
        {url, 1, AGENT_E_BUFFER_TOO_SMALL},
        {url, 0, AGENT_E_BUFFER_TOO_SMALL},
        {"", 1, S_OK},
        {"", 0, AGENT_E_BUFFER_TOO_SMALL},
        {std::string("a\0b", 3), 4, S_OK},
    };
    for (const BufferCase& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.text << "\" into " << c.size);
        std::string buffer(c.text.size() + 8, CANARY);
        EXPECT_EQ(CopyToCallerBuffer(c.text, buffer.data(), c.size), c.expected);
        if (c.expected == S_OK) {
            EXPECT_EQ(buffer.substr(0, c.text.size() + 1), c.text + '\0');
            EXPECT_EQ(buffer.substr(c.text.size() + 1), std::string(7, CANARY)) << "written past the zero";
        } else {
            EXPECT_EQ(buffer, std::string(c.text.size() + 8, CANARY)) << "a refused buffer was touched";
        }
    }
}

}  // namespace
}  // namespace tamsel::faces
