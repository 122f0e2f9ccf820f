// The one rule for text results in caller-owned buffers: whole with its terminating zero, or not at all.
#pragma once

#include "include/NorvikTamselAgent.h"

#include <string>

namespace tamsel::faces {

// Whether text fits a buffer of bufferSize bytes with its terminating zero.
inline bool FitsCallerBuffer(const std::string& text, ULONG bufferSize) noexcept {
    return static_cast<unsigned long long>(bufferSize) >= text.size() + 1ULL;
}

// Copies text with its terminating zero only when it fits whole; otherwise the buffer is not touched.
HRESULT CopyToCallerBuffer(const std::string& text, char* buffer, ULONG bufferSize) noexcept;

}  // namespace tamsel::faces
