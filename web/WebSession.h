// The per-operation HTTP client: its probe, the URL it targets, taken apart and looked at once, and its requests.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Exchange.h"
#include "web/HttpRequest.h"
#include "web/Handle.h"
#include "web/ProxyCredentials.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"
#include "base/Handle.h"

#include <cstdint>

namespace tamsel::web {

class WebSession {
public:
    // Every request of the session, the probe included, answers a proxy's challenge with proxy (empty:
    // with the credentials the platform holds). The session keeps a copy, wiped when it ends.
    explicit WebSession(const ProxyCredentials& proxy = {});
    ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    // True only when the probe page answered 200 within PROBE_WAIT_MS. Blocks the caller at most that
    // long, without dispatching messages; a probe still running afterwards is left to finish alone.
    bool ProbeConnectivity() noexcept;

    // The same probe, run alongside the requests that follow: it starts here, and ProbePassed tells its
    // answer, waiting at most for what is left of PROBE_WAIT_MS. Until it has passed, no download reply
    // reaches its consumer: a reply that comes first waits for it, and is let go of unread if it fails.
    // A session that never probed passes.
    void StartProbe() noexcept;
    bool ProbePassed() noexcept;
    // Lets a probe that passed a moment ago stand for this session's: ProbePassed answers true.
    void TrustProbe() noexcept { m_probeState = ProbeState::Trusted; }
    // Whether this session's own probe ran and answered 200.
    bool ProbeAnswered() const noexcept { return m_probeState == ProbeState::Passed; }
    // What a probe that failed saw, as GetUrlStatus answers it (407: a proxy asked for credentials it did
    // not get; 502: the page could not be opened); 0 when it saw nothing in time.
    int32_t ProbeStatus() const noexcept { return m_probeStatus; }

    // Looks once for a "Location" header of url (one GET whose body is not read) and parses that
    // Location, unchanged, or else url itself into the request. False when the parser refuses it, and
    // at once, with nothing sent, for a url holding a control character.
    // With strictTls the look trusts only a certificate that strict TLS accepts, and a Location that
    // leaves https is refused by the download that follows (insecureRedirect), which then sends nothing.
    bool SetUrl(const char* url, bool strictTls = false);

    // SetUrl for a download whose first request may be its own look: for an http or https URL that the
    // parser takes whole (no query, no user info), nothing is sent now, and the first Get sends the
    // download's request to url itself. A reply that carries a Location is then taken as the look's:
    // the download goes there, as after SetUrl (strict as that Get's ask says); any other reply is the
    // download's, so the file is sent once. Other URLs are looked at now, as SetUrl does. False where
    // SetUrl would be; a Location that the parser refuses makes that Get's result urlRefused.
    bool SetDownloadUrl(const char* url, bool strictTls);

    // Appends a form field.
    void AddField(const char* name, const char* value);

    // Downloads the request's object chunk by chunk into consumer, as ask says.
    DownloadResult Get(const DownloadAsk& ask, BodyConsumer& consumer);

    // POSTs the form fields in the given encoding.
    WebReply Post(BodyEncoding encoding);

    const HttpRequest& Request() const noexcept { return m_request; }
    // What its requests answer a proxy's challenge with: for a further download of the same object on
    // a thread of its own (SendGet over copies of Request() and these).
    const ProxyCredentials& Proxy() const noexcept { return m_proxy; }

    static constexpr uint32_t PROBE_WAIT_MS = 12000;

private:
    enum class ProbeState { None, Running, Passed, Failed, Trusted };
    struct ProbeResult;

    // What the Location look leaves to the download: nothing, the look itself (SetDownloadUrl left it to
    // the first Get), or the refusal of a Location that leaves https under strict TLS.
    enum class LookStep { Done, InFirstGet, LeftHttps };

    bool Target(const char* url, bool strictTls, bool lookInFirstGet);
    bool TakeLocation(ServiceKind from, const std::string& location, bool strictTls);

    HttpRequest m_request;
    ProxyCredentials m_proxy;
    ProbeState m_probeState = ProbeState::None;
    int32_t m_probeStatus = 0;
    ProbeResult* m_probe = nullptr;  // co-owned with the worker while Running
    KernelHandle m_probeWorker;
    uint32_t m_probeStart = 0;  // tick count
    LookStep m_lookStep = LookStep::Done;
    // The Location look's reply, let go of once the exchange it led to is over: Wine's WinINet reads
    // the rest of a closed body, and a look at the file itself would otherwise be read a second time
    // while the download runs, on the same cores.
    UnreadReply m_look;
};

}  // namespace tamsel::web
