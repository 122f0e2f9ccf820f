// Fuzz target: the URL splitter and the request's URL parsing with its query split.
#include "web/HttpRequest.h"
#include "web/UrlSplit.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tamsel::web;

static void Check(bool condition) {
    if (!condition) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (std::optional<UrlParts> parts = SplitUrl(input)) {
        Check(parts->port != 0 && !parts->server.empty());
        Check(!parts->objectPath.empty() && parts->objectPath[0] == '/');
        Check(parts->objectPath.find('#') == std::string::npos);
    }

    // ParseUrl takes a zero-terminated string: the input up to its first zero byte.
    HttpRequest request;
    const bool parsed = request.ParseUrl(input.c_str());
    Check(parsed == SplitUrl(input.c_str()).has_value());
    if (parsed) {
        Check(request.port != 0);
        Check(!request.objectPath.empty() && request.objectPath[0] == '/');
        Check(request.objectPath.find('?') == std::string::npos);
    } else {
        Check(request.port == 0 && request.service == SERVICE_NONE && request.server.empty());
    }
    // Pairs come from after the last "?": names stop at "=", values at "&".
    for (const FormField& field : request.formFields) {
        Check(field.name.find_first_of("?=") == std::string::npos);
        Check(field.value.find_first_of("?&") == std::string::npos);
    }
    return 0;
}
