// The loopback server's generated bodies on the test side: the bytes themselves, and a check against them.
#include "support/Pattern.h"

namespace tamsel::test {

std::string Pattern(size_t size, uint64_t from) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(testbed::PatternByte(from + i));
    return bytes;
}

::testing::AssertionResult HoldsPattern(const std::string& bytes, uint64_t size, uint64_t from) {
    if (bytes.size() != size) {
        return ::testing::AssertionFailure() << bytes.size() << " bytes instead of " << size;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != testbed::PatternByte(from + i)) {
            return ::testing::AssertionFailure() << "byte " << i << " differs: lost, doubled or out of order";
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace tamsel::test
