// The two POST body encodings of a request's fields, and the file reader behind a file part.
#pragma once

#include "web/HttpRequest.h"

#include <optional>
#include <string>

namespace tamsel::web {

// How a POST carries its fields.
enum class BodyEncoding {
    URL_ENCODED,          // application/x-www-form-urlencoded; file fields are left out
    MULTIPART_FORM_DATA,  // multipart/form-data, file parts included
};

// name=value pairs joined by "&", in list order. Nothing is escaped: a "&" or "=" inside a value
// reaches the server as extra pairs. File fields are ignored.
std::string BuildUrlEncodedBody(const HttpRequest& request);

// multipart/form-data under request.boundary: every form part, then every file part, then the
// closing line; CRLF after every line. Names, values and paths go in verbatim. Reads each file
// now; nullopt when one of them cannot be read whole, so that no part goes out with wrong content.
std::optional<std::string> BuildMultipartBody(const HttpRequest& request);

// The whole content of a local file, zero bytes included. False (and `bytes` empty) when the file
// cannot be opened, is 4 GB or larger, or delivers fewer bytes than its size.
bool ReadFileBytes(const std::string& path, std::string& bytes);

}  // namespace tamsel::web
