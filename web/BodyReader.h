// Reading a reply's body within its bounds: a download's into its consumer, then let go of; a service reply's as text.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Handle.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel::web {

class Completion;

// Where a body's bytes come from, one read at a time. A synchronous WinINet read fills itself to the
// size asked for however slowly the bytes come, so that a server trickling a byte now and then could
// hold it, and the caller, for as long as it likes: every source is read with a bound of ours.
class BodySource {
public:
    // One read of at most room bytes into into, given up at deadline; got 0 at the end of the body. False
    // when the read failed or was given up.
    virtual bool Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept = 0;
    // Where the reads are to put their bytes, at least size of them, when a read given up may still write
    // into its buffer later; null when any buffer of the reader's own will do.
    virtual char* Buffer(size_t size);

protected:
    ~BodySource() = default;
};

// The body of an asynchronous WinINet request: each read takes whatever has arrived, however much, and
// waits for more, with the caller's bound, only when nothing has.
class AsyncRequestBody final : public BodySource {
public:
    AsyncRequestBody(HINTERNET request, Completion& completion) noexcept
        : m_request(request), m_completion(completion) {}
    bool Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept override;
    char* Buffer(size_t size) override;

private:
    HINTERNET m_request;
    Completion& m_completion;
};

inline constexpr uint64_t NO_BODY_LIMIT = UINT64_MAX;

// What is known of a body's size before it is read.
struct BodySize {
    uint64_t length = 0;    // 0 when nothing is known
    bool announced = false;  // by Content-Length or a 206's range: no byte past it belongs to the body
    uint64_t limit = NO_BODY_LIMIT;  // the most the caller takes: a byte past it ends the body TooLong
};

// The transport's half of the expected size's rule (the agent's ExpectedSize judges the file): the most
// of a body that may be read when the whole file is expected to be expectedSize bytes (-1: any) and the
// body starts after `already` of them. The read stops one byte past it, the byte that tells a body too
// long, so that nothing past the expected size is stored or reported.
uint64_t LimitFor(int64_t expectedSize, uint64_t already) noexcept;

// Reads the body into consumer, each read as large as what has arrived (up to 1 MiB), handed on in whole
// BODY_CHUNK_SIZE chunks (a shorter last piece only when nothing more will come); a consumer that
// answers false ends it (Cancelled when the consumer says so). A transfer that gains fewer than 4 KiB
// within one bounded wait has stalled and is Broken, as is one that ends short of its size; no wait
// outlasts that bounded wait. A body that runs past size.limit is TooLong, with exactly the bytes up to
// the limit delivered. pace may shorten or lengthen the bounded wait, end the transfer at a time as a
// stall would (Broken), and cap its average rate: each read then asks for no more than the rate's
// budget allows by then, and at most a quarter of a second's worth, so that a capped body still reaches
// the consumer in pieces several times a second (at caps of 16 KiB/s and more: below that the chunk
// alignment above spaces them further; a cap under 4 KiB per stall bound stalls).
TransferEnd ReadBody(BodySource& source, BodySize size, BodyConsumer& consumer, const BodyPace& pace = {});

// A download's HTTP reply of this status, its head come: the head read once and offered to consumer,
// the body, if taken, read within the bounds its head and expectedSize set, and the reply then let go
// of as the way its transfer ended requires (CloseQueue).
TransferEnd ReceiveDownload(UnreadReply reply, Completion& completion, int32_t status, int64_t expectedSize,
                            const BodyPace& pace, BodyConsumer& consumer);

// The reply of an asynchronous request as text; a zero byte ends the text of the read it arrives in.
// Nothing when more than 1 MiB arrives or the reply has not arrived whole within one bounded wait of
// its headers (no wait outlasts it): a server may trickle a reply, or never end it.
std::optional<std::string> ReadReplyText(BodySource& source);

}  // namespace tamsel::web
