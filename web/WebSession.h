// The per-operation HTTP client: its construction, the bounded connectivity probe, and its requests.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Exchange.h"
#include "web/HttpRequest.h"
#include "web/Internet.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

#include <cstdint>

namespace tamsel::web {

class WebSession {
public:
    WebSession();
    ~WebSession();
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    // True only when the probe page answered 200 within PROBE_WAIT_MS. Blocks the caller at most that
    // long, without dispatching messages; a probe still running afterwards is left to finish alone.
    bool ProbeConnectivity() noexcept;

    // Looks once for a "Location" header of url (one GET whose body is not read) and parses that
    // Location, unchanged, or else url itself into the request. False when the parser refuses it, and
    // at once, with nothing sent, for a url holding a control character.
    // With strictTls the look trusts only a certificate that strict TLS accepts, and a Location that
    // leaves https is refused by the download that follows (insecureRedirect), which then sends nothing.
    bool SetUrl(const char* url, bool strictTls = false);

    // Appends a form field.
    void AddField(const char* name, const char* value);

    // Downloads the request's object chunk by chunk into consumer, as ask says.
    DownloadResult Get(const DownloadAsk& ask, BodyConsumer& consumer);

    // POSTs the form fields in the given encoding.
    WebReply Post(BodyEncoding encoding);

    const HttpRequest& Request() const noexcept { return m_request; }

    static constexpr uint32_t PROBE_WAIT_MS = 12000;

private:
    HttpRequest m_request;
    // The Location look's reply, let go of once the exchange it led to is over: Wine's WinINet reads
    // the rest of a closed body, and a look at the file itself would otherwise be read a second time
    // while the download runs, on the same cores.
    UnreadReply m_look;
    bool m_lookLeftHttps = false;
};

}  // namespace tamsel::web
