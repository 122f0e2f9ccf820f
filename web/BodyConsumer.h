// Where a download's bytes go, chunk by chunk, and how a transfer ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tamsel::web {

// What a download's reply says of its body before the body comes.
struct ReplyHead {
    int32_t status = 0;
    std::optional<uint64_t> length;  // Content-Length
    // Content-Range "bytes first-last/whole" of a 206, when it reads as one; whole may be unknown ("*").
    std::optional<uint64_t> rangeFirst;
    std::optional<uint64_t> rangeLast;
    std::optional<uint64_t> rangeWhole;
    std::string etag;          // as sent, quotes and all
    std::string lastModified;  // as sent
    bool acceptsRanges = false;  // Accept-Ranges: bytes
    // The validator cannot tell two versions of the file apart (an FTP listing's size and time): a part
    // continued under it is proven only by a digest of the whole file.
    bool weakValidator = false;
    // Where the body stands in the whole file, for whoever counts its progress: the bytes before it (a
    // part's first byte) and the whole file's length (0 when unknown: an FTP file's listed size counts
    // even where no length is bound by it).
    uint64_t bodyStart = 0;
    uint64_t fileLength = 0;
    // The Location the reply names, as sent, whatever its status: a download whose own request is its
    // Location look goes there instead of taking the body.
    std::string location;
    // The Retry-After a reply other than 200 and 206 names, as sent (web/RetryAfter.h reads it).
    std::string retryAfter;
};

// How a download's body is paced, beyond the transport's own bounds.
struct BodyPace {
    uint32_t stallMs = 0;            // the stall bound of this transfer; 0: the process-wide one
    uint64_t stopAt = 0;             // a GetTickCount64 at which the transfer ends as a stall would; 0: none
    uint32_t maxBytesPerSecond = 0;  // the average rate the reads keep within; 0: no cap
};

// The body reaches Write in whole chunks of this many bytes but for its last piece, counted from the
// body's first byte however the bytes arrived: a consumer that stops at a chunk stops at the same byte.
inline constexpr size_t BODY_CHUNK_SIZE = 4096;

class BodyConsumer {
public:
    virtual ~BodyConsumer() = default;

    // Called once the reply's head is known, before any byte of its body. False: the body is not
    // wanted and the transfer ends there (nothing more is read).
    virtual bool StartReply(const ReplyHead& head) = 0;

    // The body's bytes, in order. False: the transfer ends; they could not be taken (a failed write), or
    // the consumer stopped it (Cancelled).
    virtual bool Write(const char* data, size_t size) = 0;

    // After a Write answered false: the consumer stopped the transfer on purpose (the host cancelled),
    // keeping what it took, rather than failing to take the bytes.
    virtual bool Cancelled() const noexcept { return false; }
};

enum class TransferEnd {
    NoExchange,      // nothing was received: no connection, no status, or no known service
    Complete,        // every byte the server announced (or sent, when it announced nothing)
    Cancelled,       // the consumer stopped it (the host cancelled); what it took until then stands
    Broken,          // a read failed, or fewer bytes arrived than announced, with no cancel
    Declined,        // the consumer did not want the body (Start answered false)
    ConsumerFailed,  // the consumer could not take bytes (Write answered false)
    TooLong,         // the body ran past the size the caller allows: the bytes up to it were delivered
};

}  // namespace tamsel::web
