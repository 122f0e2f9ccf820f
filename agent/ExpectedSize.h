// The size a host expects of a downloaded file: the agent's half of holding a download to it, the length a
// reply announces and the size the file comes to. The transport's half, a body stopped at the expected
// size (web's LimitFor), ends such a transfer TooLong.
#pragma once

#include "web/BodyConsumer.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>

namespace tamsel::agent {

// The whole length a reply announces of its file: a 206's whole, any other reply's Content-Length.
inline std::optional<uint64_t> AnnouncedWhole(const web::ReplyHead& head) {
    return head.status == HTTP_STATUS_PARTIAL_CONTENT ? head.rangeWhole : head.length;
}

class ExpectedSize {
public:
    explicit ExpectedSize(int64_t bytes) noexcept : m_bytes(bytes) {}  // -1: any size

    // Whether a file of size bytes is the one expected.
    bool Fits(uint64_t size) const noexcept { return m_bytes < 0 || size == static_cast<uint64_t>(m_bytes); }

    // Whether the whole length the reply announces is the expected one; true when it announces none (the
    // size the file comes to tells then).
    bool Admits(const web::ReplyHead& head) const {
        const std::optional<uint64_t> whole = AnnouncedWhole(head);
        return !whole || Fits(*whole);
    }

private:
    int64_t m_bytes;
};

}  // namespace tamsel::agent
