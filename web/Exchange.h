// Running the exchange a request describes, over WinINet: a POST with its body, or a download.
#pragma once

#include "web/BodyConsumer.h"
#include "web/HttpRequest.h"

#include <cstdint>
#include <string>

struct ProgressSink;

namespace tamsel::web {

// POSTs the request's fields (bodyEncoding 2: multipart/form-data, else url-encoded) and returns the
// reply text; a zero byte ends the text of the chunk it arrives in. Leaves the status in
// request.status and appends the raw reply headers to request.headerText. An exchange that could not
// be made returns empty and leaves both untouched.
std::string SendPost(HttpRequest& request, int32_t bodyEncoding);

// Downloads the request's object over http, https or ftp into consumer, reporting progress to the
// optional sink, which can cancel. Leaves the status in request.status (200 for an opened ftp file).
TransferEnd SendGet(HttpRequest& request, ProgressSink* progress, BodyConsumer& consumer);

}  // namespace tamsel::web
