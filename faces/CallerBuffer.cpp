// The one rule for text results in caller-owned buffers: whole with its terminating zero, or not at all.
#include "faces/CallerBuffer.h"

#include <cstring>

namespace tamsel::faces {

// Out of line: inlined into a caller that passes no buffer with a size of 0, the compiler would warn of
// a copy to null that the size never lets happen.
HRESULT CopyToCallerBuffer(const std::string& text, char* buffer, ULONG bufferSize) noexcept {
    if (!FitsCallerBuffer(text, bufferSize)) {
        return AGENT_E_BUFFER_TOO_SMALL;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return S_OK;
}

}  // namespace tamsel::faces
