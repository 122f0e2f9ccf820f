// The per-operation HTTP client: construction and the connectivity probe on its worker thread.
#include "web/WebSession.h"

#include "web/Exchange.h"
#include "base/Handle.h"
#include "web/Redirect.h"
#include "web/UrlSplit.h"
#include "web/Worker.h"

#include <atomic>
#include <new>

namespace tamsel::web {
namespace {

// The probe's result, co-owned by the waiting caller and the worker: whichever lets go last frees it,
// so a worker that outlives the wait still writes into live memory.
struct ProbeResult {
    std::atomic<LONG> owners{2};
    std::atomic<int32_t> status{0};

    void Release() noexcept {
        if (owners.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
};

void Probe(void* argument) noexcept {
    auto* result = static_cast<ProbeResult*>(argument);
    if (CheckInternet() == 200) {
        result->status.store(200, std::memory_order_release);
    }
    result->Release();
}

// Whether going from url to location leaves https.
bool LeavesHttps(const char* url, const std::string& location) {
    const std::optional<UrlParts> from = SplitUrl(url);
    const std::optional<UrlParts> to = SplitUrl(location);
    return from && from->service == UrlService::Https && (!to || to->service != UrlService::Https);
}

}  // namespace

WebSession::WebSession() = default;

WebSession::~WebSession() {
    CloseUnread(std::move(m_look));
}

bool WebSession::ProbeConnectivity() noexcept {
    auto* result = new (std::nothrow) ProbeResult;
    if (result == nullptr) {
        return false;
    }
    ThreadHandle worker = StartWorker(Probe, result);
    if (!worker) {
        // The worker never ran: its share of the result is ours to drop.
        result->Release();
        result->Release();
        return false;
    }
    ::WaitForSingleObject(worker.get(), PROBE_WAIT_MS);
    const bool reachable = result->status.load(std::memory_order_acquire) == 200;
    result->Release();
    return reachable;
}

bool WebSession::SetUrl(const char* url, bool strictTls) {
    CloseUnread(std::move(m_look));
    m_lookLeftHttps = false;
    if (url == nullptr || HasControlCharacter(url)) {
        return false;
    }
    const std::string location = QueryUrlHeader(url, "Location", strictTls, &m_look);
    if (!MayHoldLongHttpBody(m_look.request.get())) {
        CloseUnread(std::move(m_look));  // nothing to wait for: a short body
    }
    m_lookLeftHttps = strictTls && !location.empty() && LeavesHttps(url, location);
    return m_request.ParseUrl(location.empty() ? url : location.c_str());
}

void WebSession::AddField(const char* name, const char* value) {
    m_request.AddFormField(name, value);
}

DownloadResult WebSession::Get(const DownloadAsk& ask, BodyConsumer& consumer) {
    if (m_lookLeftHttps) {
        CloseUnread(std::move(m_look));
        DownloadResult refused;
        refused.insecureRedirect = true;
        return refused;
    }
    DownloadResult result = SendGet(m_request, ask, consumer);
    CloseUnread(std::move(m_look));
    return result;
}

WebReply WebSession::Post(BodyEncoding encoding) {
    WebReply reply = SendPost(m_request, encoding);
    CloseUnread(std::move(m_look));
    return reply;
}

}  // namespace tamsel::web
