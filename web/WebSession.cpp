// The per-operation HTTP client: its probe, the URL it targets, taken apart and looked at once, and its requests.
#include "web/WebSession.h"

#include "web/CloseQueue.h"
#include "web/Exchange.h"
#include "web/HeaderLook.h"
#include "web/UrlSplit.h"
#include "web/Worker.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

namespace tamsel::web {
namespace {

// A download's reply as the session lets it through. When the request was also the Location look, a reply
// naming a Location goes no further: the session keeps the Location and asks there. Any other waits for
// the probe to have passed, and one whose probe failed is let go of unread: nothing reaches the file.
class SessionGate final : public BodyConsumer {
public:
    SessionGate(WebSession& session, BodyConsumer& consumer, std::string* location) noexcept
        : m_session(session), m_consumer(consumer), m_location(location) {}
    bool StartReply(const ReplyHead& head) override {
        if (m_location != nullptr && !head.location.empty()) {
            *m_location = head.location;
            return false;
        }
        return m_session.ProbePassed() && m_consumer.StartReply(head);
    }
    bool Write(const char* data, size_t size) override { return m_consumer.Write(data, size); }
    bool Cancelled() const noexcept override { return m_consumer.Cancelled(); }

private:
    WebSession& m_session;
    BodyConsumer& m_consumer;
    std::string* m_location;  // null: every reply is the download's
};

// Whether the download's own request asks for exactly what a look at url would: an http or https URL
// without query, fragment, user info or a byte that the platform would escape when opening it.
bool IsSentAsItIs(const Url& url) {
    if (!url.parts || (url.parts->service != SERVICE_HTTP && url.parts->service != SERVICE_HTTPS)) return false;
    if (url.address != url.text) return false;
    return std::none_of(url.text.begin(), url.text.end(), [](char c) {
        return c == '?' || c == '#' || c == ' ' || static_cast<unsigned char>(c) >= 0x80;
    });
}

ServiceKind ServiceOf(const std::optional<UrlParts>& parts) {
    return parts ? parts->service : SERVICE_NONE;
}

}  // namespace

// The probe's result, co-owned by the waiting caller and the worker: whichever lets go last frees it,
// so a worker that outlives the wait still writes into live memory.
struct WebSession::ProbeResult {
    explicit ProbeResult(const ProxyCredentials& credentials) : proxy(credentials) {}

    std::atomic<LONG> owners{2};
    std::atomic<int32_t> status{0};
    const ProxyCredentials proxy;  // the worker's own copy: it may outlive the session

    void Release() noexcept {
        if (owners.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    static void Run(void* argument) noexcept {
        auto* result = static_cast<ProbeResult*>(argument);
        result->status.store(CheckInternet(&result->proxy), std::memory_order_release);
        result->Release();
    }
};

WebSession::WebSession(const ProxyCredentials& proxy) : m_proxy(proxy) {}

WebSession::~WebSession() {
    CloseUnread(std::move(m_look));
    if (m_probe != nullptr) m_probe->Release();
}

bool WebSession::ProbeConnectivity() noexcept {
    StartProbe();
    return ProbePassed();
}

void WebSession::StartProbe() noexcept {
    m_probeState = ProbeState::Failed;
    try {
        m_probe = new ProbeResult(m_proxy);
    } catch (...) {
        return;  // out of memory: no probe, which fails
    }
    m_probeWorker = StartWorker(ProbeResult::Run, m_probe);
    if (!m_probeWorker) {
        // The worker never ran: its share of the result is ours to drop.
        m_probe->Release();
        m_probe->Release();
        m_probe = nullptr;
        return;
    }
    m_probeStart = ::GetTickCount();
    m_probeState = ProbeState::Running;
}

bool WebSession::ProbePassed() noexcept {
    if (m_probeState == ProbeState::Running) {
        const uint32_t elapsed = ::GetTickCount() - m_probeStart;
        ::WaitForSingleObject(m_probeWorker.get(), elapsed < PROBE_WAIT_MS ? PROBE_WAIT_MS - elapsed : 0);
        const int32_t status = m_probe->status.load(std::memory_order_acquire);
        const bool passed = status == 200;
        m_probeStatus = status > 0 && !passed ? status : 0;
        m_probe->Release();
        m_probe = nullptr;
        m_probeWorker.reset();
        m_probeState = passed ? ProbeState::Passed : ProbeState::Failed;
    }
    return m_probeState != ProbeState::Failed;
}

bool WebSession::SetUrl(const char* url, bool strictTls) {
    return Target(url, strictTls, false);
}

bool WebSession::SetDownloadUrl(const char* url, bool strictTls) {
    return Target(url, strictTls, true);
}

// The URL taken apart once, then handed on: to the request at once when the first Get may make the look,
// else to the look first.
bool WebSession::Target(const char* url, bool strictTls, bool lookInFirstGet) {
    CloseUnread(std::move(m_look));
    m_lookStep = LookStep::Done;
    if (url == nullptr || HasControlCharacter(url)) return false;
    const Url given = TakeApart(url);
    if (lookInFirstGet && IsSentAsItIs(given)) {
        m_lookStep = LookStep::InFirstGet;
        return m_request.ParseUrl(given);
    }
    const std::string location = QueryUrlHeader(given, "Location", strictTls, &m_look, &m_proxy);
    if (location.empty()) return m_request.ParseUrl(given);
    return TakeLocation(ServiceOf(given.parts), location, strictTls);
}

// What the session does with the Location its look found.
bool WebSession::TakeLocation(ServiceKind from, const std::string& location, bool strictTls) {
    const Url to = TakeApart(location);
    m_lookStep = strictTls && LeavesHttps(from, ServiceOf(to.parts)) ? LookStep::LeftHttps : LookStep::Done;
    return m_request.ParseUrl(to);
}

void WebSession::AddField(const char* name, const char* value) {
    m_request.AddFormField(name, value);
}

// One exchange, or two when the first request was also the look and its reply named a Location: each
// goes down to its reply read and let go of, the look's reply, if any, with it.
DownloadResult WebSession::Get(const DownloadAsk& given, BodyConsumer& consumer) {
    DownloadAsk ask = given;
    ask.proxy = &m_proxy;
    if (m_lookStep == LookStep::InFirstGet) {
        m_lookStep = LookStep::Done;
        std::string location;
        ask.followRedirects = false;  // the first reply is the look's
        SessionGate look(*this, consumer, &location);
        DownloadResult result = SendGet(m_request, ask, look);
        if (location.empty()) return result;
        ask.followRedirects = given.followRedirects;
        // SetUrl parses the Location into a request that holds no service yet: one of another scheme
        // leads nowhere, rather than to its host and port over the service of url.
        const ServiceKind from = std::exchange(m_request.service, SERVICE_NONE);
        if (!TakeLocation(from, location, ask.strictTls)) {
            DownloadResult refused;
            refused.urlRefused = true;
            return refused;
        }
    }
    if (m_lookStep == LookStep::LeftHttps) {
        CloseUnread(std::move(m_look));
        DownloadResult refused;
        refused.insecureRedirect = true;
        return refused;
    }
    SessionGate gated(*this, consumer, nullptr);
    return SendGet(m_request, ask, gated, std::move(m_look));
}

WebReply WebSession::Post(BodyEncoding encoding) {
    return SendPost(m_request, encoding, &m_proxy, std::move(m_look));
}

}  // namespace tamsel::web
