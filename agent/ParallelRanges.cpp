// One download over up to four connections to one source: the first reply read in order, slices of its
// rest asked for beside it once it has shown that ranges are safe, and every byte handed on in order.
#include "agent/ParallelRanges.h"

#include "agent/SafeDownload.h"
#include "base/Handle.h"
#include "web/WebSession.h"
#include "web/Worker.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace tamsel::agent {
namespace {

// What the in-order side hands on at once: small enough for progress to move several times a second.
constexpr uint64_t HAND_ON_MOST = 256 * 1024;
// How long a wait for a slice or for memory goes before it looks again at what changed.
constexpr DWORD LOOK_AGAIN_MS = 100;

enum class SliceState { Free, First, Fetching, Whole, Written };

struct Slice {
    uint64_t first = 0;
    uint64_t end = 0;     // one past its last byte
    uint64_t filled = 0;  // bytes in `bytes`, from first
    SliceState state = SliceState::Free;
    std::unique_ptr<char[]> bytes;  // while it is fetched or waits its turn
    uint64_t Size() const noexcept { return end - first; }
};

// A slim reader/writer lock held exclusively for a scope; it owns no handle to close.
class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~Exclusive() { ::ReleaseSRWLockExclusive(&m_lock); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& m_lock;
};

// [from, to) in pieces of about `size` (at least one), free.
void Cut(std::vector<Slice>& slices, uint64_t from, uint64_t to, uint64_t size) {
    const uint64_t count = std::max<uint64_t>(1, (to - from) / size);
    for (uint64_t i = 0; i < count; ++i) {
        Slice slice;
        slice.first = from + (to - from) * i / count;
        slice.end = from + (to - from) * (i + 1) / count;
        slices.push_back(std::move(slice));
    }
}

}  // namespace

// Whole slices that an earlier attempt kept in the partial file, read back before the file is opened
// for the reply (which cuts it back to its prefix).
struct KeptBytes {
    std::vector<KeptSlice> slices;
    std::vector<std::unique_ptr<char[]>> bytes;

    bool Read(const std::wstring& path) {
        FileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return false;
        for (const KeptSlice& slice : slices) {
            std::unique_ptr<char[]> block(new (std::nothrow) char[slice.end - slice.first]);
            LARGE_INTEGER at = {};
            at.QuadPart = static_cast<LONGLONG>(slice.first);
            if (!block || !::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
                !ReadAll(file.get(), block.get(), slice.end - slice.first)) {
                return false;
            }
            bytes.push_back(std::move(block));
        }
        return true;
    }

    static bool ReadAll(HANDLE file, char* into, uint64_t size) {
        while (size > 0) {
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(std::min<uint64_t>(size, 1u << 20));
            if (!::ReadFile(file, into, want, &got, nullptr) || got == 0) return false;
            into += got;
            size -= got;
        }
        return true;
    }

    // The rest from `from`: the gaps in pieces of about `size`, the kept slices whole with their bytes.
    std::vector<Slice> Layout(uint64_t from, uint64_t whole, uint64_t size) {
        std::vector<Slice> layout;
        uint64_t at = from;
        for (size_t i = 0; i < slices.size(); ++i) {
            if (slices[i].first > at) Cut(layout, at, slices[i].first, size);
            Slice kept;
            kept.first = slices[i].first;
            kept.end = kept.filled = slices[i].end;
            kept.filled -= kept.first;
            kept.state = SliceState::Whole;
            kept.bytes = std::move(bytes[i]);
            layout.push_back(std::move(kept));
            at = slices[i].end;
        }
        if (whole > at) Cut(layout, at, whole, size);
        return layout;
    }
};

// The slices of a download's rest and the connections that fetch them: each further connection takes the
// lowest free slice into memory of its own, and the in-order side hands its bytes on once the order
// reaches them. Memory: beside the slice the order is in, at most connections - 1 slices wait in memory.
// The connections share it with the download, and go on with copies of the request and the proxy's
// credentials: a download that ends (a cancel) does not wait for a connection's read to return.
class SliceBoard final : public std::enable_shared_from_this<SliceBoard> {
public:
    SliceBoard(const web::WebSession& session, const web::DownloadAsk& ask, uint32_t connections, uint64_t whole,
               uint64_t from, std::string validator, std::vector<Slice> slices)
        : m_request(session.Request()),
          m_proxy(session.Proxy()),
          m_ask(ask),
          m_connections(connections),
          m_whole(whole),
          m_slices(std::move(slices)),
          m_at(from) {
        m_ask.proxy = &m_proxy;
        m_ask.followRedirects = false;  // a slice comes from where the first reply came from, or not at all
        m_ask.ifRange = std::move(validator);
        m_ask.expectedSize = -1;  // the whole length was admitted with the first reply; each slice is announced
        m_slices.front().state = SliceState::First;
    }
    ~SliceBoard() = default;
    SliceBoard(const SliceBoard&) = delete;
    SliceBoard& operator=(const SliceBoard&) = delete;

    uint64_t FirstEnd() const noexcept { return m_slices.front().end; }

    // Starts count further connections (fewer when no thread starts).
    void Start(uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            {
                Exclusive hold(m_lock);
                if (m_stop || m_refused) return;
                ++m_running;
                m_most = std::max(m_most, m_running);
            }
            auto* share = new (std::nothrow) std::shared_ptr<SliceBoard>(shared_from_this());
            KernelHandle thread = share ? web::StartWorker(Work, share) : KernelHandle();
            if (!thread) {
                delete share;
                Left();
                return;
            }
        }
    }

    // The first reply goes on into the slice that starts at `at` while no one else has taken it.
    bool ClaimForFirst(uint64_t at, uint64_t& end) {
        Exclusive hold(m_lock);
        Slice* slice = SliceAt(at);
        if (m_stop || slice == nullptr || slice->state != SliceState::Free || slice->bytes) return false;
        slice->state = SliceState::First;
        end = slice->end;
        return true;
    }

    // The first reply ended at `at`: what is left of its slice is free for the others; its connection is
    // closed. The in-order side goes on from `at`.
    void FirstEnded(uint64_t at) {
        Exclusive hold(m_lock);
        m_at = at;
        if (Slice* slice = SliceAt(at); slice != nullptr && slice->state == SliceState::First) {
            slice->first = at;
            slice->state = SliceState::Free;
        }
        --m_running;
        ::WakeAllConditionVariable(&m_changed);
    }

    web::TransferEnd HandOn(web::BodyConsumer& body);

    // Ends every connection, each at its next read or wait; none touches the file.
    void Stop() noexcept {
        Exclusive hold(m_lock);
        m_stop = true;
        ::WakeAllConditionVariable(&m_changed);
    }

    // The slices that came whole past `prefix` and wait in memory, with their bytes (valid while the
    // board lives).
    std::vector<SliceBytes> WholeAhead(uint64_t prefix) {
        Exclusive hold(m_lock);
        std::vector<SliceBytes> ahead;
        for (const Slice& slice : m_slices) {
            if (slice.state == SliceState::Whole && slice.bytes && slice.first > prefix) {
                ahead.push_back({{slice.first, slice.end}, slice.bytes.get()});
            }
        }
        return ahead;
    }

    uint32_t Most() const noexcept { return m_most; }
    bool Refused() const noexcept { return m_refused; }

private:
    class SliceBody;
    struct Piece {
        const char* data = nullptr;
        size_t size = 0;
        bool done = false;  // every byte handed on
        bool dead = false;  // no connection is left to bring the next byte
    };

    static void Work(void* share) noexcept {
        const std::unique_ptr<std::shared_ptr<SliceBoard>> owned(static_cast<std::shared_ptr<SliceBoard>*>(share));
        SliceBoard& board = **owned;
        for (size_t index; (index = board.Take()) != SIZE_MAX && board.Fetch(index);) {
        }
        board.Left();
    }

    void Left() noexcept {
        Exclusive hold(m_lock);
        --m_running;
        ::WakeAllConditionVariable(&m_changed);
    }

    Slice* SliceAt(uint64_t at) noexcept {
        for (Slice& slice : m_slices) {
            if (slice.first <= at && at < slice.end) return &slice;
        }
        return nullptr;
    }

    size_t Take() noexcept;
    bool Fetch(size_t index) noexcept;
    bool Accepts(const web::ReplyHead& head, const Slice& slice) const;
    Piece Next(uint64_t at) noexcept;
    void Passed(uint64_t at) noexcept;

    const web::HttpRequest m_request;
    const web::ProxyCredentials m_proxy;
    web::DownloadAsk m_ask;
    const uint32_t m_connections;
    const uint64_t m_whole;
    SRWLOCK m_lock = SRWLOCK_INIT;
    CONDITION_VARIABLE m_changed = CONDITION_VARIABLE_INIT;
    std::vector<Slice> m_slices;  // in the file's order; guarded by m_lock, but for the bytes below filled
    uint64_t m_at;                // where the order stands
    uint32_t m_running = 1;       // connections open, the first reply's among them
    uint32_t m_most = 1;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_refused{false};
};

// A slice's reply: taken only when it is the part asked for of the very file, its bytes copied into the
// slice's memory as they come.
class SliceBoard::SliceBody final : public web::BodyConsumer {
public:
    SliceBody(SliceBoard& board, Slice& slice) noexcept : m_board(board), m_slice(slice) {}

    bool StartReply(const web::ReplyHead& head) override {
        m_refused = !m_board.Accepts(head, m_slice);
        return !m_refused;
    }
    bool Write(const char* data, size_t size) override {
        if (m_board.m_stop || m_slice.filled + size > m_slice.Size()) return false;
        std::memcpy(m_slice.bytes.get() + m_slice.filled, data, size);
        Exclusive hold(m_board.m_lock);
        m_slice.filled += size;
        ::WakeAllConditionVariable(&m_board.m_changed);
        return true;
    }
    bool Cancelled() const noexcept override { return m_board.m_stop; }
    bool Refused() const noexcept { return m_refused; }

private:
    SliceBoard& m_board;
    Slice& m_slice;
    bool m_refused = false;
};

// The part asked for, of the whole length the first reply announced, under its validator when it had
// one. Anything else (a 200, another validator, a 429 or 503) is no part of this file to splice in.
bool SliceBoard::Accepts(const web::ReplyHead& head, const Slice& slice) const {
    return head.status == HTTP_STATUS_PARTIAL_CONTENT && head.rangeFirst == slice.first + slice.filled &&
           head.rangeLast == slice.end - 1 && head.rangeWhole == m_whole &&
           (m_ask.ifRange.empty() || ValidatorOf(head) == m_ask.ifRange);
}

// The lowest free slice, its memory made, once the memory bound allows (the slice the order is in always
// may); SIZE_MAX when none is left or the download stops.
size_t SliceBoard::Take() noexcept {
    Exclusive hold(m_lock);
    for (;;) {
        if (m_stop) return SIZE_MAX;
        const auto free = std::find_if(m_slices.begin(), m_slices.end(),
                                       [](const Slice& slice) { return slice.state == SliceState::Free; });
        if (free == m_slices.end()) return SIZE_MAX;
        const bool inOrder = free->first <= m_at;
        const auto ahead = std::count_if(m_slices.begin(), m_slices.end(), [this](const Slice& slice) {
            return slice.bytes && slice.end > m_at && slice.first > m_at;
        });
        if (free->bytes || inOrder || static_cast<uint32_t>(ahead) + 1 < m_connections) {
            if (!free->bytes) {
                free->bytes.reset(new (std::nothrow) char[free->Size()]);
                if (!free->bytes) return SIZE_MAX;
            }
            free->state = SliceState::Fetching;
            return static_cast<size_t>(free - m_slices.begin());
        }
        ::SleepConditionVariableSRW(&m_changed, &m_lock, LOOK_AGAIN_MS, 0);
    }
}

// One connection's exchange for the rest of a slice; false when that connection is to close: its reply
// was refused (then no further connection opens in this call) or broke off. Either way the slice, with
// the bytes it has, goes back to the connections still open.
bool SliceBoard::Fetch(size_t index) noexcept {
    Slice& slice = m_slices[index];
    web::DownloadAsk ask = m_ask;
    ask.resumeFrom = slice.first + slice.filled;
    ask.rangeEnd = slice.end;
    SliceBody body(*this, slice);
    const web::DownloadResult result = web::SendGet(m_request, ask, body);
    Exclusive hold(m_lock);
    const bool whole = slice.filled == slice.Size();
    slice.state = whole ? SliceState::Whole : SliceState::Free;
    if (slice.filled == 0) {
        // Nothing came: the memory goes back, and the first reply may take the slice on in order.
        slice.bytes.reset();
    }
    if (body.Refused()) m_refused = true;
    ::WakeAllConditionVariable(&m_changed);
    return whole && result.end == web::TransferEnd::Complete;
}

// What the order may hand on next from `at`, waiting (a bounded while at a time) until some is there.
SliceBoard::Piece SliceBoard::Next(uint64_t at) noexcept {
    Exclusive hold(m_lock);
    m_at = at;
    ::WakeAllConditionVariable(&m_changed);
    for (;;) {
        if (at >= m_whole) return {nullptr, 0, true, false};
        const Slice* slice = SliceAt(at);
        if (slice->bytes && slice->first + slice->filled > at) {
            const uint64_t ready = std::min(slice->first + slice->filled - at, HAND_ON_MOST);
            return {slice->bytes.get() + (at - slice->first), static_cast<size_t>(ready), false, false};
        }
        if (m_running == 0 || m_stop) return {nullptr, 0, false, true};
        ::SleepConditionVariableSRW(&m_changed, &m_lock, LOOK_AGAIN_MS, 0);
    }
}

// The order passed `at`: the slices wholly behind it give their memory back.
void SliceBoard::Passed(uint64_t at) noexcept {
    Exclusive hold(m_lock);
    for (Slice& slice : m_slices) {
        if (slice.end <= at && slice.bytes && slice.state == SliceState::Whole) {
            slice.bytes.reset();
            slice.state = SliceState::Written;
        }
    }
}

// Hands every byte on in order, on the calling thread (where the progress sink lives), from where the
// first reply ended to the end of the file; Broken when no connection is left to bring the next byte.
web::TransferEnd SliceBoard::HandOn(web::BodyConsumer& body) {
    uint64_t at = m_at;
    for (;;) {
        const Piece piece = Next(at);
        if (piece.done) return web::TransferEnd::Complete;
        if (piece.dead) return web::TransferEnd::Broken;
        if (!body.Write(piece.data, piece.size)) {
            return body.Cancelled() ? web::TransferEnd::Cancelled : web::TransferEnd::ConsumerFailed;
        }
        at += piece.size;
        Passed(at);
    }
}

// The first reply on its way to the body: it tells whether and when slices may be asked for, cuts them,
// and stops at the end of the slices it holds once another connection has taken the next.
class ParallelRanges::FirstReply final : public web::BodyConsumer {
public:
    FirstReply(ParallelRanges& owner, web::BodyConsumer& body) noexcept : m_owner(owner), m_body(body) {}

    bool StartReply(const web::ReplyHead& head) override {
        if (!m_body.StartReply(head)) return false;
        m_at = head.bodyStart;
        m_whole = head.status == HTTP_STATUS_PARTIAL_CONTENT ? head.rangeWhole.value_or(0) : head.length.value_or(0);
        m_validator = ValidatorOf(head);
        m_eligible = Eligible(head);
        m_started = ::GetTickCount64();
        auto& kept = m_owner.m_kept;
        if (kept && head.status == HTTP_STATUS_PARTIAL_CONTENT && m_at == m_owner.m_keptFrom && m_whole > m_at) {
            // The part continues the partial file: only the gaps between its kept slices are asked for.
            m_owner.m_board = std::make_shared<SliceBoard>(m_owner.m_session, m_owner.m_ask,
                                                           std::max<uint32_t>(1, m_owner.m_rules.connections), m_whole,
                                                           m_at, m_validator, kept->Layout(m_at, m_whole, SliceSize()));
            m_end = m_owner.m_board->FirstEnd();
        }
        kept.reset();
        return true;
    }

    bool Write(const char* data, size_t size) override {
        if (m_eligible && !m_further && TimeToSlice()) Slice();
        while (m_owner.m_board && size > 0 && m_at + size > m_end) {
            const size_t mine = static_cast<size_t>(m_end - m_at);
            if (!Pass(data, mine)) return false;
            data += mine;
            size -= mine;
            if (!m_owner.m_board->ClaimForFirst(m_at, m_end)) {
                m_reachedEnd = true;
                return false;
            }
        }
        return Pass(data, size);
    }
    bool Cancelled() const noexcept override { return !m_reachedEnd && m_body.Cancelled(); }

    bool ReachedEnd() const noexcept { return m_reachedEnd; }
    uint64_t At() const noexcept { return m_at; }

private:
    // A reply whose length is known and whose server takes ranges of this very file: with a validator for
    // If-Range, or under a digest that proves the whole.
    bool Eligible(const web::ReplyHead& head) const {
        const web::ServiceKind service = m_owner.m_session.Request().service;
        const bool http = service == web::SERVICE_HTTP || service == web::SERVICE_HTTPS;
        const bool sized = head.length.has_value() && m_whole > m_at;
        const bool proven = !m_validator.empty() || m_owner.m_rules.digest;
        return m_owner.m_rules.connections > 1 && http && sized && head.acceptsRanges && proven &&
               (head.status == HTTP_STATUS_OK || head.status == HTTP_STATUS_PARTIAL_CONTENT);
    }
    bool TimeToSlice() const noexcept {
        return ::GetTickCount64() - m_started >= RANGES_AFTER_MS && m_whole - m_at >= RANGES_LEAST_LEFT;
    }
    uint64_t SliceSize() const noexcept {
        const uint64_t connections = std::max<uint32_t>(1, m_owner.m_rules.connections);
        return std::clamp<uint64_t>((m_whole - m_at) / (2 * connections), SLICE_LEAST, SLICE_LARGEST);
    }
    // Cuts the rest into slices (unless a resume's kept slices did) and opens the further connections.
    void Slice() {
        m_further = true;
        const uint32_t connections = m_owner.m_rules.connections;
        if (!m_owner.m_board) {
            std::vector<agent::Slice> slices;
            Cut(slices, m_at, m_whole, SliceSize());
            m_owner.m_board = std::make_shared<SliceBoard>(m_owner.m_session, m_owner.m_ask, connections, m_whole,
                                                           m_at, m_validator, std::move(slices));
            m_end = m_owner.m_board->FirstEnd();
        }
        m_owner.m_board->Start(connections - 1);
    }
    bool Pass(const char* data, size_t size) {
        if (size == 0) return true;
        if (!m_body.Write(data, size)) return false;
        m_at += size;
        return true;
    }

    ParallelRanges& m_owner;
    web::BodyConsumer& m_body;
    uint64_t m_at = 0;     // the file's offset of the next byte
    uint64_t m_whole = 0;  // the file's length
    uint64_t m_end = 0;    // one past the slices it holds, once slices were cut
    std::string m_validator;
    bool m_eligible = false;
    bool m_further = false;  // further connections were opened
    bool m_reachedEnd = false;
    ULONGLONG m_started = 0;
};

ParallelRanges::ParallelRanges(web::WebSession& session, const web::DownloadAsk& ask, RangeRules rules,
                               const std::optional<ResumePoint>& point, const std::wstring& partial)
    : m_session(session), m_ask(ask), m_rules(rules), m_partial(partial) {
    if (point && !point->kept.empty()) {
        m_kept.reset(new (std::nothrow) KeptBytes{point->kept, {}});
        m_keptFrom = point->offset;
    }
}

ParallelRanges::~ParallelRanges() {
    if (m_board) m_board->Stop();
}

web::DownloadResult ParallelRanges::Get(web::BodyConsumer& body) {
    if (m_kept && !m_kept->Read(m_partial)) m_kept.reset();  // then the partial file goes on from its prefix
    FirstReply first(*this, body);
    const web::DownloadResult result = m_session.Get(m_ask, first);
    return m_board ? AfterFirst(result, first, body) : result;
}

// Once slices were cut: the first reply's slice goes to the others when it ended short of it, its place
// to a further connection when it reached its end, and the order goes on from where it stopped.
web::DownloadResult ParallelRanges::AfterFirst(const web::DownloadResult& first, FirstReply& gate,
                                               web::BodyConsumer& body) {
    const bool goesOn = gate.ReachedEnd() || first.end == web::TransferEnd::Broken ||
                        first.end == web::TransferEnd::Complete;
    if (!goesOn) {
        m_board->Stop();
        return first;
    }
    m_board->FirstEnded(gate.At());
    m_board->Start(1);
    web::DownloadResult result = first;
    result.end = m_board->HandOn(body);
    m_board->Stop();
    return result;
}

uint32_t ParallelRanges::MostAtOnce() const noexcept { return m_board ? m_board->Most() : 1; }
bool ParallelRanges::RangeRefused() const noexcept { return m_board && m_board->Refused(); }

std::vector<SliceBytes> ParallelRanges::WholeAhead(uint64_t prefix) const {
    return m_board ? m_board->WholeAhead(prefix) : std::vector<SliceBytes>();
}

}  // namespace tamsel::agent
