// Letting go of replies, read to their end or not: closed here when that is quick, else on a few worker threads.
#pragma once

#include "web/BodyConsumer.h"
#include "web/Handle.h"

#include <cstddef>

namespace tamsel::web {

// Whether closing the request may make the platform read a long rest of its body: an HTTP reply that
// announces more than a few blocks, or no length at all. An FTP file's close ends its data connection.
bool MayHoldLongHttpBody(HINTERNET request) noexcept;

// Closes the reply's handles. Wine's WinINet reads the rest of an unread body before the close
// returns, a kilobyte at a time, about 5 MiB/s on loopback: letting go of a 512 MiB file after its
// headers, or after a cancel, would hold the caller for nearly two minutes. So an HTTP reply that announces
// more than a few blocks, or no length at all, is closed on a worker thread while the caller goes on;
// nothing is sent either way.
void CloseUnread(UnreadReply reply) noexcept;

// Closes the reply's handles on a worker whatever its length: for a reply whose rest may trickle in
// for as long as the server likes. At most four workers close at once; further closes wait their
// turn. If no worker can start, the close runs here.
void CloseUnreadOnWorker(UnreadReply reply) noexcept;

// Lets go of a download's reply as the way its transfer ended requires: one read whole closes here; one
// that stalled, ran too long or was cut short at its range may go on coming as long as the server likes,
// so the caller does not wait for it; any other as CloseUnread.
void LetGoOf(UnreadReply reply, const ReplyHead& head, TransferEnd end) noexcept;

// How many close workers are running now (for tests and diagnostics).
size_t CloseWorkersRunning() noexcept;

}  // namespace tamsel::web
