// Running the exchange a request describes, over WinINet: a POST with its body, or a download.
#pragma once

#include "web/BodyConsumer.h"
#include "web/HttpRequest.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

struct ProgressSink;

namespace tamsel::web {

// POSTs the request's fields and returns the reply: its status, raw headers and text (a zero byte
// ends the text of the read it arrives in). Status 0 and nothing else when the exchange could not be
// made; an empty body when the reply was unreadable (past 1 MiB, or not whole within the bounded wait).
WebReply SendPost(const HttpRequest& request, BodyEncoding encoding);

// Downloads the request's object over http, https or ftp into consumer, reporting progress to the
// optional sink, which can cancel.
DownloadResult SendGet(const HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer);

}  // namespace tamsel::web
