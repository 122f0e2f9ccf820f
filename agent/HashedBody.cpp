// A download's body on its way to the partial file, hashed as it is written, and why the file refused it.
#include "agent/HashedBody.h"

#include "agent/SafeDownload.h"
#include "base/Handle.h"
#include "web/Worker.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace tamsel::agent {
namespace {

constexpr DWORD PREFIX_BLOCK = 1024 * 1024;
constexpr size_t SLOT_SIZE = 1024 * 1024;  // what one download read brings at most
constexpr LONG SLOTS = 3;

}  // namespace

// Hashes the body on a thread of its own, beside the reading and writing: where the platform's SHA-256
// is slower than the link, the download then goes at the hashing's speed instead of slower than both
// added up. The reader reuses its buffer as soon as a block is handed on, so each block is copied into
// one of a few slots; the reader waits only when all of them are still to be hashed.
class BackgroundHash {
public:
    explicit BackgroundHash(Sha256& hash) noexcept : m_hash(hash) {
        for (Slot& slot : m_slots) {
            slot.bytes.reset(new (std::nothrow) char[SLOT_SIZE]);
            if (!slot.bytes) return;
        }
        m_free.reset(::CreateSemaphoreW(nullptr, SLOTS, SLOTS, nullptr));
        m_filled.reset(::CreateSemaphoreW(nullptr, 0, SLOTS, nullptr));
        if (m_free && m_filled) m_thread = web::StartWorker(Run, this);
    }
    ~BackgroundHash() { Finish(); }
    BackgroundHash(const BackgroundHash&) = delete;
    BackgroundHash& operator=(const BackgroundHash&) = delete;

    // False when no thread could be started: the caller hashes on its own thread instead.
    bool Started() const noexcept { return static_cast<bool>(m_thread); }

    // False once a block could not be hashed.
    bool Add(const char* data, size_t size) noexcept {
        while (size > 0) {
            const size_t piece = std::min(size, SLOT_SIZE);
            std::memcpy(Claim().bytes.get(), data, piece);
            Hand(piece, false);
            data += piece;
            size -= piece;
        }
        return !m_failed.load();
    }

    // Waits until every block is hashed and the thread has ended; false when a block could not be hashed.
    bool Finish() noexcept {
        if (m_thread) {
            Claim();
            Hand(0, true);
            ::WaitForSingleObject(m_thread.get(), INFINITE);
            m_thread.reset();
        }
        return !m_failed.load();
    }

private:
    struct Slot {
        std::unique_ptr<char[]> bytes;
        size_t size = 0;
        bool last = false;  // no more blocks: the thread ends
    };

    Slot& Claim() noexcept {
        ::WaitForSingleObject(m_free.get(), INFINITE);
        return m_slots[m_head];
    }
    void Hand(size_t size, bool last) noexcept {
        m_slots[m_head].size = size;
        m_slots[m_head].last = last;
        m_head = (m_head + 1) % SLOTS;
        ::ReleaseSemaphore(m_filled.get(), 1, nullptr);
    }

    static void Run(void* self) noexcept {
        auto& background = *static_cast<BackgroundHash*>(self);
        for (size_t tail = 0;; tail = (tail + 1) % SLOTS) {
            ::WaitForSingleObject(background.m_filled.get(), INFINITE);
            const Slot& slot = background.m_slots[tail];
            if (slot.last) return;
            if (!background.m_failed.load() && !background.m_hash.Add(slot.bytes.get(), slot.size)) {
                background.m_failed.store(true);
            }
            ::ReleaseSemaphore(background.m_free.get(), 1, nullptr);
        }
    }

    Sha256& m_hash;  // the thread's alone while it runs
    Slot m_slots[SLOTS];
    size_t m_head = 0;  // the next slot the reader fills
    KernelHandle m_free;    // slots the reader may fill
    KernelHandle m_filled;  // slots the thread may hash
    std::atomic<bool> m_failed{false};
    KernelHandle m_thread;
};

HashedBody::HashedBody(PartialDownload& file, const Digest* expected, CarriedHash* carried) noexcept
    : m_file(file), m_expected(expected), m_carried(carried) {}

HashedBody::~HashedBody() = default;

// Keeps the platform's reason for the refusal that just happened; fallback when it left none (a short
// write that reported success, as a full disk may give).
bool HashedBody::Refused(DWORD fallback) noexcept {
    const DWORD error = ::GetLastError();
    m_error = error != 0 ? error : fallback;
    return false;
}

bool HashedBody::StartReply(const web::ReplyHead& head) {
    // A reply with another status is declined by the file, which stays as it is: what an earlier attempt
    // left waits for the next reply.
    const bool bodyOfTheFile = head.status == HTTP_STATUS_OK || head.status == HTTP_STATUS_PARTIAL_CONTENT;
    if (m_expected != nullptr && bodyOfTheFile && !StartHash(head)) return false;
    if (m_carried != nullptr && bodyOfTheFile) {
        *m_carried = CarriedHash();  // the file is the partial file's to open now; what was left is used or void
        m_carried = nullptr;
    }
    ::SetLastError(0);
    if (!m_file.StartReply(head)) {
        // A reply the partial file declines for the server's sake (a status, a size) is no local error.
        return m_file.Refused() ? Refused(0) : false;
    }
    // The thread and its slots only for a body the file took: not for a status it declines, nor for a
    // part it cannot continue (the start over makes its own).
    if (m_hash) {
        m_background.reset(new (std::nothrow) BackgroundHash(*m_hash));
        if (m_background && !m_background->Started()) m_background.reset();
    }
    return true;
}

// The hash for a reply: the one an earlier attempt left when the reply goes on at the byte it reached,
// else a new one, over the partial file's bytes when the reply continues them.
bool HashedBody::StartHash(const web::ReplyHead& head) noexcept {
    // Asked of the partial file before it takes the reply: once it has, it shares the file with no one.
    const bool continues = m_file.Continues(head);
    if (continues && m_carried != nullptr && m_carried->hash && m_carried->bytes == m_file.ResumeOffset()) {
        m_hash = std::move(m_carried->hash);
        m_hashed = m_carried->bytes;
        return true;
    }
    m_hash.reset(new (std::nothrow) Sha256());
    if (!m_hash || !*m_hash) {
        m_error = ERROR_NOT_SUPPORTED;
        return false;
    }
    if (continues && !HashPrefix()) return Refused(ERROR_READ_FAULT);
    m_hashed = continues ? m_file.ResumeOffset() : 0;
    return true;
}

bool HashedBody::HashPrefix() noexcept {
    // Closed again before the partial file is opened for appending, which shares it with no one.
    FileHandle file(::CreateFileW(m_file.Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::unique_ptr<char[]> block(new (std::nothrow) char[PREFIX_BLOCK]);
    if (!file || !block) return false;
    for (uint64_t left = m_file.ResumeOffset(); left > 0;) {
        const DWORD want = static_cast<DWORD>(std::min<uint64_t>(left, PREFIX_BLOCK));
        DWORD got = 0;
        if (!::ReadFile(file.get(), block.get(), want, &got, nullptr) || got == 0) return false;
        if (!m_hash->Add(block.get(), got)) return false;
        left -= got;
    }
    return true;
}

bool HashedBody::Write(const char* data, size_t size) {
    ::SetLastError(0);
    if (!m_file.Write(data, size)) return Refused(ERROR_DISK_FULL);
    if (!m_hash) return true;
    const bool hashed = m_background ? m_background->Add(data, size) : m_hash->Add(data, size);
    if (!hashed) return Refused(ERROR_INVALID_DATA);
    m_hashed += size;
    return true;
}

void HashedBody::Carry(CarriedHash& carried) noexcept {
    if (!m_hash) return;  // no reply of the file came: what an earlier attempt left still stands
    carried = CarriedHash();
    if (m_background && !m_background->Finish()) return;
    m_background.reset();
    FileHandle guard(::CreateFileW(m_file.Path().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size = {};
    if (!guard || !::GetFileSizeEx(guard.get(), &size) || static_cast<uint64_t>(size.QuadPart) != m_hashed) return;
    carried.hash = std::move(m_hash);
    carried.bytes = m_hashed;
    carried.guard = std::move(guard);
}

bool HashedBody::Matches() noexcept {
    if (m_expected == nullptr) return true;
    if (!m_hash || (m_background && !m_background->Finish())) return false;
    const std::optional<Digest> digest = m_hash->Finish();
    return digest && *digest == *m_expected;
}

}  // namespace tamsel::agent
