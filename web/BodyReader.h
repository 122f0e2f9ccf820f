// Reading a reply's body over WinINet: a download streamed to its consumer in whole chunks with a stall
// watch, and a service reply read whole within its bounds.
#pragma once

#include "web/BodyConsumer.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamsel::web {

class Completion;
class FtpWorker;

// Where a body is read from. A synchronous WinINet HTTP read fills itself to the size asked for
// however slowly the bytes come, so that a server trickling a byte now and then could hold it, and the
// caller, for as long as it likes. An HTTP body is therefore read asynchronously (completion set): each
// read takes whatever has arrived, however much, and waits for more with a bound of ours. An FTP file
// is read on a worker thread of its own (ftp set), since its reads know no bound at all.
struct BodySource {
    HINTERNET handle;
    Completion* completion = nullptr;
    FtpWorker* ftp = nullptr;
};

inline constexpr uint64_t NO_BODY_LIMIT = UINT64_MAX;

// What is known of a body's size before it is read.
struct BodySize {
    uint64_t length = 0;    // 0 when nothing is known
    bool announced = false;  // by Content-Length or a 206's range: no byte past it belongs to the body
    uint64_t limit = NO_BODY_LIMIT;  // the most the caller takes: a byte past it ends the body TooLong
};

// Reads the body into consumer, each read as large as what has arrived (up to 1 MiB), handed on in whole
// BODY_CHUNK_SIZE chunks (a shorter last piece only when nothing more will come); a consumer that
// answers false ends it (Cancelled when the consumer says so). A transfer that gains fewer than 4 KiB
// within one bounded wait has stalled and is Broken, as is one that ends short of its size; no wait
// outlasts that bounded wait. A body that runs past size.limit is TooLong, with exactly the bytes up to
// the limit delivered.
TransferEnd ReadBody(const BodySource& source, BodySize size, BodyConsumer& consumer);

// The reply of an asynchronous request as text; a zero byte ends the text of the read it arrives in.
// Nothing when more than 1 MiB arrives or the reply has not arrived whole within one bounded wait of
// its headers (no wait outlasts it): a server may trickle a reply, or never end it.
std::optional<std::string> ReadReplyText(const BodySource& source);

}  // namespace tamsel::web
