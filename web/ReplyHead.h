// What a reply's head says over WinINet: one header's value, its length, its raw block, and a download's head.
#pragma once

#include "web/BodyConsumer.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel::web {

// A reply's Content-Length as a 64-bit count, read as text since it may not fit 32 bits; nothing when
// the header is absent or unreadable.
std::optional<uint64_t> QueryContentLength(HINTERNET request) noexcept;

// The value of the reply's first header called headerName, exactly as sent; empty when there is none
// or the value is so long (about 4 KiB) that the platform may have cut it.
std::string ReadReplyHeader(HINTERNET request, const char* headerName);

// The raw header block of a reply, grown to the length the platform reports as often as it asks; empty
// when it cannot be read.
std::string RawHeaders(HINTERNET request);

// Everything a download's reply of this status says of its body before the body comes (BodyConsumer.h),
// and the Location it names.
ReplyHead ReadHead(int32_t status, HINTERNET request);

}  // namespace tamsel::web
