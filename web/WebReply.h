// The reply triple of one exchange: numeric status, raw header text, body.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel::web {

struct WebReply {
    int32_t status = 0;  // 0 when the exchange could not be made
    std::string text;    // raw reply headers of a POST; empty after a GET
    std::string body;
};

}  // namespace tamsel::web
