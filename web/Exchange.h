// The exchange a request describes, down to its reply read and let go of: a download (http, https, ftp) or a POST.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Handle.h"
#include "web/HttpRequest.h"
#include "web/ProxyCredentials.h"
#include "web/RequestBody.h"
#include "web/WebReply.h"

namespace tamsel::web {

// Both take `look`, the Location look that led to the exchange, its body unread, and let go of it once
// the exchange is over: Wine's WinINet reads the rest of a closed body, and a look at the file itself
// would otherwise be read a second time while the download runs, on the same cores.

// POSTs the request's fields and returns the reply: its status, raw headers and text (a zero byte
// ends the text of the read it arrives in). Status 0 and nothing else when the exchange could not be
// made; an empty body when the reply was unreadable (past 1 MiB, or not whole within the bounded wait).
// The POST never authenticates to the server (INTERNET_FLAG_NO_AUTH); a proxy's Basic challenge is
// answered once, with proxy or else with the credentials the platform holds for the proxy.
WebReply SendPost(const HttpRequest& request, BodyEncoding encoding, const ProxyCredentials* proxy = nullptr,
                  UnreadReply look = {});

// Downloads the request's object over http, https or ftp into consumer, which may stop it at any chunk
// (web/BodyReader.h); the head tells the consumer where the body stands in the file. FTP as GetFtp
// (web/Ftp.h) says. Any other service makes no exchange.
DownloadResult SendGet(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer,
                       UnreadReply look = {});

}  // namespace tamsel::web
