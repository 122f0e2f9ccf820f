// FTP, whole: the download (listing, validator, passive then active), the look at an ftp URL, the worker they run on.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Handle.h"
#include "web/HttpRequest.h"
#include "web/WebReply.h"

#include <windows.h>

#include <string>

namespace tamsel::web {

// The download of the request's object over FTP into consumer, which may stop it at any chunk; the head
// tells the consumer where the body stands in the file. An FTP file has no status: an opened one is a
// 200, one that the server agreed to start at ask.resumeFrom a 206 whose range starts there; its
// validator (in the head's lastModified) is as ask.wantsValidator says, or empty. It connects in passive
// mode, and again in active mode only when the file could not be listed that way. Every step is given
// up when it has not returned within the stall bound; one given up before the file opened is no exchange.
DownloadResult GetFtp(const HttpRequest& request, const DownloadAsk& ask, BodyConsumer& consumer);

// The look at an ftp URL: a whole login with agent (a string that outlives the call) and the file opened
// with flags, then closed unread. An FTP file has no headers: nothing is handed back, unless a proxy made
// the look an HTTP request, whose reply comes back unread.
UnreadReply LookAtFtpUrl(const std::string& url, DWORD flags, const char* agent);

}  // namespace tamsel::web
