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
// bytes gained within one bounded wait (the pace's, or the process-wide one), or its end come.
class StallWatch {
public:
    explicit StallWatch(const BodyPace& pace) noexcept
        : m_boundMs(pace.stallMs != 0 ? pace.stallMs : ExchangeTimeoutMs()), m_stopAt(pace.stopAt) {}

    // False once the transfer, now at total bytes, has stalled.
    bool Moving(uint64_t total) noexcept {
        const ULONGLONG now = ::GetTickCount64();
        if (total - m_markTotal >= STALL_FLOOR) {
            m_markTotal = total;
            m_markTime = now;
        }
        return now < Deadline();
    }

    // When the transfer will have stalled unless it gains STALL_FLOOR bytes first: no wait may outlast it.
    ULONGLONG Deadline() const noexcept {
        const ULONGLONG stalled = m_markTime + m_boundMs;
        return m_stopAt != 0 && m_stopAt < stalled ? m_stopAt : stalled;
    }

private:
    uint32_t m_boundMs;
    ULONGLONG m_stopAt;
    uint64_t m_markTotal = 0;
    ULONGLONG m_markTime = ::GetTickCount64();
};

// Keeps a body's average rate within a cap: each read may take only what the rate allows by then (no
// burst at the start, so that any window of the transfer keeps to it), at most a quarter second's worth.
class RateCap {
public:
    explicit RateCap(uint32_t bytesPerSecond) noexcept : m_rate(bytesPerSecond) {}

    // How much a read of at most room bytes may ask for once `taken` bytes came; waits until at least a
    // chunk (or room, or the quarter second's worth, when smaller) is allowed. 0 when that would come
    // only after deadline, waited for.
    DWORD Room(DWORD room, uint64_t taken, ULONGLONG deadline) const noexcept {
        if (m_rate == 0) return room;
        const uint64_t quarter = std::max<uint64_t>(m_rate / 4, 1);
        const uint64_t least = std::min<uint64_t>({room, quarter, CHUNK_SIZE});
        for (;;) {
            const ULONGLONG now = ::GetTickCount64();
            const uint64_t allowed = m_rate * (now - m_start) / 1000;
            if (allowed >= taken + least) {
                return static_cast<DWORD>(std::min<uint64_t>({room, quarter, allowed - taken}));
            }
            if (now >= deadline) return 0;
            const uint64_t missing = taken + least - allowed;
            const ULONGLONG wait = std::min<ULONGLONG>(missing * 1000 / m_rate + 1, deadline - now);
            ::Sleep(static_cast<DWORD>(std::min<ULONGLONG>(wait, 250)));
        }
    }

private:
    uint64_t m_rate;
    ULONGLONG m_start = ::GetTickCount64();
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

TransferEnd ReadBody(BodySource& source, BodySize size, BodyConsumer& consumer, const BodyPace& pace) {
    std::unique_ptr<char[]> own;
    char* const block = ReadBuffer(source, READ_BLOCK_SIZE, own);
    StallWatch stall(pace);
    const RateCap rate(pace.maxBytesPerSecond);
    uint64_t total = 0;  // handed on to the consumer
    DWORD pending = 0;   // at the block's start, read but not handed on: less than one chunk
    for (;;) {
        const DWORD sized = RoomFor(size, total + pending, pending);
        const DWORD room = sized == 0 ? 0 : rate.Room(sized, total + pending, stall.Deadline());
        DWORD got = 0;
        // A room of 0 from the rate cap: the transfer's end came while it waited for its budget.
        bool readWell = sized == 0 || (room > 0 && source.Read(block + pending, room, got, stall.Deadline()));
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
                            const BodyPace& pace, BodyConsumer& consumer) {
    const ReplyHead head = ReadHead(status, reply.request.get());
    AsyncRequestBody body(reply.request.get(), completion);
    const TransferEnd end =
        consumer.StartReply(head) ? ReadBody(body, SizeOf(head, expectedSize), consumer, pace) : TransferEnd::Declined;
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
