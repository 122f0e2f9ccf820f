// Running the exchange a request describes, over WinINet: a POST with its body, or a download.
#pragma once

#include "web/BodyConsumer.h"
#include "web/HttpRequest.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

#include <cstdint>
#include <string>

struct ProgressSink;
struct ProgressSink2;

namespace tamsel::web {

// POSTs the request's fields and returns the reply: its status, raw headers and text (a zero byte
// ends the text of the read it arrives in). Status 0 and nothing else when the exchange could not be
// made; an empty body when the reply was unreadable (past 1 MiB, or not whole within the bounded wait).
WebReply SendPost(const HttpRequest& request, BodyEncoding encoding);

// How a download asks, beyond its URL.
struct DownloadAsk {
    ProgressSink* progress = nullptr;  // the percentage rule; may be null
    ProgressSink2* bytes = nullptr;    // told the bytes after every block; may be null
    // https: a certificate for another host name, out of date or from an unknown authority ends the
    // exchange at once (certificateRefused), without a dialog. Otherwise such names and dates pass, and
    // an unknown authority may be accepted by the user.
    bool strictTls = false;
    std::string headers;     // http: extra request lines (a range), each ending in CRLF
    uint64_t ftpRestart = 0;  // ftp: ask the server to start the file there (REST)
};

// Downloads the request's object over http, https or ftp into consumer, reporting progress as asked.
// An FTP file that the server agreed to start at ask.ftpRestart is handed over as a 206 whose range
// starts there; one that it would not is handed over whole, as a 200.
DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer);

// The plain download: progress to the optional sink, which can cancel.
inline DownloadResult SendGet(const HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer) {
    DownloadAsk ask;
    ask.progress = progress;
    return SendGet(request, ask, consumer);
}

}  // namespace tamsel::web
