// Running the exchange a request describes, over WinINet: a POST with its body, or a download.
#pragma once

#include "web/BodyConsumer.h"
#include "web/HttpRequest.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

// POSTs the request's fields and returns the reply: its status, raw headers and text (a zero byte
// ends the text of the read it arrives in). Status 0 and nothing else when the exchange could not be
// made; an empty body when the reply was unreadable (past 1 MiB, or not whole within the bounded wait).
WebReply SendPost(const HttpRequest& request, BodyEncoding encoding);

// How a download asks, beyond its URL.
struct DownloadAsk {
    // https: a certificate for another host name, out of date or from an unknown authority ends the
    // exchange at once (certificateRefused), without a dialog, and a redirect from https to anything
    // else is refused (insecureRedirect). Otherwise such names and dates pass, an unknown authority may
    // be accepted by the user, and redirects go wherever http or https leads.
    bool strictTls = false;
    // Above 0: the rest of the file from there, if the file is still the one ifRange names (http:
    // Range and If-Range; ftp: REST, when the listing still gives that validator).
    uint64_t resumeFrom = 0;
    std::string ifRange;
    // The whole file's expected length (-1: any). A body that would make the file longer stops there:
    // the transfer ends TooLong, nothing past that length stored or reported.
    int64_t expectedSize = -1;
};

// Downloads the request's object over http, https or ftp into consumer, which may stop it at any chunk
// (web/BodyReader.h); the head tells the consumer where the body stands in the file. An FTP file has no
// status: an opened one is a 200, one that the server agreed to start at ask.resumeFrom a 206 whose range
// starts there; its validator (in the head's lastModified) is its listed size and time.
DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer);

// SendGet's first request made the Location look of the download as well: sent once, no redirect
// followed. When its reply names a Location, whatever its status, the reply goes nowhere (end Declined)
// and location holds it, for the caller to ask there as the look would have; otherwise the reply is the
// download's and location is empty. http and https only.
DownloadResult SendGetOrLocation(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer,
                                 std::string& location);

}  // namespace tamsel::web
