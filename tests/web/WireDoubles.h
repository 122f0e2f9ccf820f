// The body consumer the exchange wire tests hand to SendGet: records what it is given, refuses on cue.
#pragma once

#include "web/BodyConsumer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel::web::wire {

// Keeps what it is given; can refuse the body at its start, or fail the failWriteAt-th write (1-based).
class RecordingConsumer final : public BodyConsumer {
public:
    bool Start(int32_t status) override {
        starts.push_back(status);
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
