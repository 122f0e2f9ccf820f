// Running the exchange a request describes, over WinINet: a POST with its body, or a download.
#pragma once

#include "web/BodyConsumer.h"
#include "web/HttpRequest.h"
#include "web/ProxyCredentials.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

// POSTs the request's fields and returns the reply: its status, raw headers and text (a zero byte
// ends the text of the read it arrives in). Status 0 and nothing else when the exchange could not be
// made; an empty body when the reply was unreadable (past 1 MiB, or not whole within the bounded wait).
// The POST never authenticates to the server (INTERNET_FLAG_NO_AUTH); a proxy's Basic challenge is
// answered once, with proxy or else with the credentials the platform holds for the proxy.
WebReply SendPost(const HttpRequest& request, BodyEncoding encoding, const ProxyCredentials* proxy = nullptr);

// How a download asks, beyond its URL.
struct DownloadAsk {
    // https: a certificate for another host name, out of date or from an unknown authority ends the
    // exchange at once (certificateRefused), without a dialog, and a redirect from https to anything
    // else is refused (insecureRedirect). Otherwise such names and dates pass, an unknown authority may
    // be accepted by the user, and redirects go wherever http or https leads.
    bool strictTls = false;
    // Above 0: the rest of the file from there, if the file is still the one ifRange names (http:
    // Range and If-Range; ftp: REST, when the server still gives that validator).
    uint64_t resumeFrom = 0;
    std::string ifRange;
    // ftp: the reply is to carry a validator that a later resume can rely on (SIZE and MDTM, asked of the
    // server); with digestProvesWhole, the listing's size and time do when the server answers no MDTM
    // (its time goes down to the minute at best, so a file replaced within it would pass: only a
    // digest of the whole file catches the splice).
    bool wantsValidator = false;
    bool digestProvesWhole = false;
    // A proxy's challenge is answered with these (null or empty: the platform's own credentials).
    const ProxyCredentials* proxy = nullptr;
    // The whole file's expected length (-1: any). A body that would make the file longer stops there:
    // the transfer ends TooLong, nothing past that length stored or reported.
    int64_t expectedSize = -1;
};

// Downloads the request's object over http, https or ftp into consumer, which may stop it at any chunk
// (web/BodyReader.h); the head tells the consumer where the body stands in the file. An FTP file has no
// status: an opened one is a 200, one that the server agreed to start at ask.resumeFrom a 206 whose range
// starts there; its validator (in the head's lastModified) is as ask.wantsValidator says, or empty. FTP
// connects in passive mode, and again in active mode only when the file could not be listed that way.
DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer);

// SendGet's first request made the Location look of the download as well: sent once, no redirect
// followed. When its reply names a Location, whatever its status, the reply goes nowhere (end Declined)
// and location holds it, for the caller to ask there as the look would have; otherwise the reply is the
// download's and location is empty. http and https only.
DownloadResult SendGetOrLocation(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer,
                                 std::string& location);

}  // namespace tamsel::web
