// Letting go of replies, read to their end or not: closed here when that is quick, else on a few worker threads.
#include "web/CloseQueue.h"

#include "base/CriticalSection.h"
#include "web/ReplyHead.h"
#include "web/Worker.h"

#include <new>

namespace tamsel::web {
namespace {

// A reply this long or shorter is closed on the caller's thread: the platform's reading of its rest,
// if any, is over at once.
constexpr uint64_t SHORT_BODY_LIMIT = 256 * 1024;

// At most this many threads close unread replies at once; further closes wait for one of them. A host
// that lets go of many large replies in a row would otherwise gain a thread, and its stack, for each.
constexpr size_t MAX_CLOSE_WORKERS = 4;

struct PendingClose {
    UnreadReply reply;
    PendingClose* next = nullptr;
};

// The closes waiting for a worker, oldest first, and the workers running.
PendingClose* firstWaiting = nullptr;
PendingClose* lastWaiting = nullptr;
size_t closeWorkers = 0;

CriticalSection& CloseQueueSection() noexcept {
    static CriticalSection section;
    return section;
}

// True when the caller is to run close on a new worker; false when it was queued for a running one.
bool ClaimWorkerOrQueue(PendingClose* close) noexcept {
    const CriticalSectionLock lock(CloseQueueSection());
    if (closeWorkers < MAX_CLOSE_WORKERS) {
        ++closeWorkers;
        return true;
    }
    (lastWaiting != nullptr ? lastWaiting->next : firstWaiting) = close;
    lastWaiting = close;
    return false;
}

// The next waiting close; when none waits, the calling worker retires.
PendingClose* NextCloseOrRetire() noexcept {
    const CriticalSectionLock lock(CloseQueueSection());
    PendingClose* next = firstWaiting;
    if (next == nullptr) {
        --closeWorkers;
        return nullptr;
    }
    firstWaiting = next->next;
    if (firstWaiting == nullptr) {
        lastWaiting = nullptr;
    }
    return next;
}

void CloseWorker(void* argument) noexcept {
    for (auto* close = static_cast<PendingClose*>(argument); close != nullptr; close = NextCloseOrRetire()) {
        delete close;
    }
}

}  // namespace

bool MayHoldLongHttpBody(HINTERNET request) noexcept {
    DWORD type = 0;
    DWORD size = sizeof(type);
    if (!::InternetQueryOptionA(request, INTERNET_OPTION_HANDLE_TYPE, &type, &size) ||
        type != INTERNET_HANDLE_TYPE_HTTP_REQUEST) {
        return false;
    }
    const std::optional<uint64_t> length = QueryContentLength(request);
    return !length || *length > SHORT_BODY_LIMIT;
}

void CloseUnread(UnreadReply reply) noexcept {
    if (MayHoldLongHttpBody(reply.request.get())) {
        CloseUnreadOnWorker(std::move(reply));
    }
}

void CloseUnreadOnWorker(UnreadReply reply) noexcept {
    auto* close = new (std::nothrow) PendingClose{std::move(reply)};
    if (close == nullptr || !ClaimWorkerOrQueue(close)) {
        return;
    }
    if (!StartWorker(CloseWorker, close)) {
        CloseWorker(close);  // no thread to be had: this caller does the worker's job
    }
}

void LetGoOf(UnreadReply reply, const ReplyHead& head, TransferEnd end) noexcept {
    const bool unframedRange = head.status == HTTP_STATUS_PARTIAL_CONTENT && !head.length;
    if (end == TransferEnd::Broken || end == TransferEnd::TooLong || unframedRange) {
        CloseUnreadOnWorker(std::move(reply));
    } else if (end != TransferEnd::Complete) {
        CloseUnread(std::move(reply));
    }
}

size_t CloseWorkersRunning() noexcept {
    const CriticalSectionLock lock(CloseQueueSection());
    return closeWorkers;
}

}  // namespace tamsel::web
