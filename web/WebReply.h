// What an exchange gives back: a POST's reply triple, and how a download went.
#pragma once

#include "web/BodyConsumer.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

struct WebReply {
    int32_t status = 0;   // 0 when the exchange could not be made
    std::string headers;  // the raw header block
    std::string body;     // the text up to the first zero byte of the read it arrived in
};

// A download's body went to its consumer; this is the rest of its story.
struct DownloadResult {
    int32_t status = 0;  // 0 when the exchange could not be made; 200 for an opened FTP file
    TransferEnd end = TransferEnd::NoExchange;
    bool certificateRefused = false;  // no exchange because the server's certificate was refused
    bool insecureRedirect = false;    // no download because strict TLS refused a redirect that left https
    bool urlRefused = false;          // no download: the Location the first reply named cannot be parsed
};

}  // namespace tamsel::web
