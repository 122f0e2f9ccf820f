// What the exchange wire tests (web's, and the progress beneath a download) share: the hosts they script,
// and the body consumer they hand to SendGet.
#pragma once

#include "support/Bounded.h"
#include "support/Pattern.h"
#include "support/RecordingSink.h"
#include "support/Testbed.h"
#include "web/BodyConsumer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel::web::wire {

// The support the wire tests draw on, under one name: `using namespace wire;` brings it all.
using namespace tamsel::test;
using testbed::RecordedRequest;
using testbed::Route;

// The hosts the wire tests script on the loopback server.
using testbed::FILES_HOST;
using testbed::SERVICE_HOST;

// Keeps what it is given; can refuse the body at its start, or fail the failWriteAt-th write (1-based).
class RecordingConsumer final : public BodyConsumer {
public:
    bool StartReply(const ReplyHead& head) override {
        starts.push_back(head.status);
        return acceptStart;
    }
    bool Write(const char* data, size_t size) override {
        writes.push_back(size);
        if (writes.size() == failWriteAt) return false;
        body.append(data, size);
        return true;
    }

    bool acceptStart = true;
    size_t failWriteAt = 0;
    std::vector<int32_t> starts;
    std::vector<size_t> writes;
    std::string body;
};

}  // namespace tamsel::web::wire
