// Reading a reply's body within its bounds: a download's into its consumer, then let go of; a service reply's as text.
#include "web/BodyReader.h"

#include "web/CloseQueue.h"
#include "web/Completion.h"
#include "web/Internet.h"
#include "web/ReplyHead.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace tamsel::web {
namespace {

constexpr DWORD READ_BLOCK_SIZE = 1024 * 1024;  // the most one read asks for
constexpr DWORD CHUNK_SIZE = BODY_CHUNK_SIZE;
// A service reply is a few hundred bytes: one longer than this is not the service's.
constexpr size_t REPLY_TEXT_LIMIT = 1024 * 1024;
constexpr DWORD REPLY_READ_SIZE = 64 * 1024;
// A download that gains fewer bytes than this within one bounded wait has stalled: a server that
// trickles a byte now and then would otherwise hold the caller, with no progress report to cancel from.
constexpr uint64_t STALL_FLOOR = 4096;

// Tells a transfer that moves, however slowly, from one that has stalled: fewer than STALL_FLOOR
// bytes gained within one bounded wait.
class StallWatch {
public:
    // False once the transfer, now at total bytes, has stalled.
    bool Moving(uint64_t total) noexcept {
        const ULONGLONG now = ::GetTickCount64();
        if (total - m_markTotal >= STALL_FLOOR) {
            m_markTotal = total;
            m_markTime = now;
            return true;
        }
        return now < Deadline();
    }

    // When the transfer will have stalled unless it gains STALL_FLOOR bytes first: no wait may outlast it.
    ULONGLONG Deadline() const noexcept { return m_markTime + ExchangeTimeoutMs(); }

private:
    uint64_t m_markTotal = 0;
    ULONGLONG m_markTime = ::GetTickCount64();
};

// How much the next read may ask for: what the block has room for, no more than the announced length
// leaves, and at most one byte past the limit (the byte that tells a body too long).
DWORD RoomFor(const BodySize& size, uint64_t received, DWORD pending) noexcept {
    uint64_t room = READ_BLOCK_SIZE - pending;
    if (size.announced) room = std::min(room, size.length - received);
    if (size.limit != NO_BODY_LIMIT) room = std::min(room, size.limit + 1 - received);
    return static_cast<DWORD>(room);
}

// Where the reads put their bytes: the source's, or else one of the reader's own.
char* ReadBuffer(BodySource& source, size_t size, std::unique_ptr<char[]>& own) {
    if (char* buffer = source.Buffer(size)) return buffer;
    own.reset(new char[size]);
    return own.get();
}

// A 206's body ends with its range, whatever the connection goes on to carry, and no later than its
// Content-Length.
BodySize SizeOf(const ReplyHead& head, int64_t expectedSize) {
    BodySize size{head.length.value_or(0), head.length.has_value(), LimitFor(expectedSize, head.bodyStart)};
    if (head.status == HTTP_STATUS_PARTIAL_CONTENT && head.rangeFirst && head.rangeLast) {
        const uint64_t range = *head.rangeLast - *head.rangeFirst + 1;
        if (!size.announced || range < size.length) {
            size.length = range;
            size.announced = true;
        }
    }
    return size;
}

}  // namespace

char* BodySource::Buffer(size_t) {
    return nullptr;
}

// An asynchronous read given up at its deadline is still pending, and writes into its buffer whenever it
// completes: so that buffer is the request's, not the reader's.
char* AsyncRequestBody::Buffer(size_t size) {
    return m_completion.Buffer(size);
}

bool AsyncRequestBody::Read(char* into, DWORD room, DWORD& got, ULONGLONG deadline) noexcept {
    got = 0;
    for (;;) {
        INTERNET_BUFFERSA buffers = {};
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpvBuffer = into;
        buffers.dwBufferLength = room;
        m_completion.Arm();
        if (::InternetReadFileExA(m_request, &buffers, IRF_NO_WAIT, m_completion.Context())) {
            got = buffers.dwBufferLength;
            return true;
        }
        if (::GetLastError() != ERROR_IO_PENDING || !m_completion.Wait(MillisecondsUntil(deadline)) ||
            m_completion.Error() != 0) {
            return false;
        }
    }
}

uint64_t LimitFor(int64_t expectedSize, uint64_t already) noexcept {
    if (expectedSize < 0) return NO_BODY_LIMIT;
    const auto expected = static_cast<uint64_t>(expectedSize);
    return expected > already ? expected - already : 0;
}

TransferEnd ReadBody(BodySource& source, BodySize size, BodyConsumer& consumer) {
    std::unique_ptr<char[]> own;
    char* const block = ReadBuffer(source, READ_BLOCK_SIZE, own);
    StallWatch stall;
    uint64_t total = 0;  // handed on to the consumer
    DWORD pending = 0;   // at the block's start, read but not handed on: less than one chunk
    for (;;) {
        const DWORD room = RoomFor(size, total + pending, pending);
        DWORD got = 0;
        bool readWell = room == 0 || source.Read(block + pending, room, got, stall.Deadline());
        // The room reaches one byte past the limit at most: that byte is not the body's.
        const bool tooLong = total + pending + got > size.limit;
        got -= tooLong ? 1 : 0;
        const bool ended = readWell && got == 0 && !tooLong;  // the end, or every announced byte is in
        readWell = readWell && (got == 0 || stall.Moving(total + pending + got));
        const DWORD filled = pending + got;
        // Whole chunks go on now, so that the consumer's stops stay aligned to the body; the last,
        // shorter chunk only when nothing more will come.
        const bool last = ended || tooLong || !readWell;
        const DWORD ready = last ? filled : filled - filled % CHUNK_SIZE;
        if (ready > 0 && !consumer.Write(block, ready)) {
            return consumer.Cancelled() ? TransferEnd::Cancelled : TransferEnd::ConsumerFailed;
        }
        total += ready;
        if (tooLong) return TransferEnd::TooLong;
        if (!readWell) return TransferEnd::Broken;
        if (ended) return total < size.length ? TransferEnd::Broken : TransferEnd::Complete;
        pending = filled - ready;
        std::memmove(block, block + ready, pending);
    }
}

TransferEnd ReceiveDownload(UnreadReply reply, Completion& completion, int32_t status, int64_t expectedSize,
                            BodyConsumer& consumer) {
    const ReplyHead head = ReadHead(status, reply.request.get());
    AsyncRequestBody body(reply.request.get(), completion);
    const TransferEnd end =
        consumer.StartReply(head) ? ReadBody(body, SizeOf(head, expectedSize), consumer) : TransferEnd::Declined;
    LetGoOf(std::move(reply), head, end);
    return end;
}

std::optional<std::string> ReadReplyText(BodySource& source) {
    const ULONGLONG deadline = StallDeadline();
    std::string text;
    std::unique_ptr<char[]> own;
    char* const chunk = ReadBuffer(source, REPLY_READ_SIZE + 1, own);
    uint64_t received = 0;  // every byte, those a zero byte cut off included
    for (;;) {
        DWORD got = 0;
        if (!source.Read(chunk, REPLY_READ_SIZE, got, deadline)) {
            // A read given up at the deadline left the reply unfinished; one that failed before ended it.
            return ::GetTickCount64() >= deadline ? std::nullopt : std::optional<std::string>(text);
        }
        received += got;
        if (got == 0) return text;
        if (received > REPLY_TEXT_LIMIT || ::GetTickCount64() >= deadline) return std::nullopt;
        chunk[got] = '\0';
        text.append(chunk);
    }
}

}  // namespace tamsel::web
