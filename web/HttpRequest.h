// What one HTTP or FTP exchange sends: target, form and file fields, boundary.
#pragma once

#include "web/UrlSplit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel::web {

struct FormField {
    std::string name;
    std::string value;
};

// A file sent as a part of a multipart POST. No operation of the agent sends one today; the session
// keeps the part as part of what a request can carry, for a service operation that uploads a file.
struct FileField {
    std::string name;         // form field name
    std::string path;         // local file; also sent, whole, as the file name
    std::string contentType;  // the part's Content-Type
};

// Where it goes is the URL's parts (server, port, service, and objectPath, here without its query,
// which went into formFields); then what it carries.
class HttpRequest : public UrlParts {
public:
    // Seeds the C runtime's generator with the current second, then draws the boundary: two
    // requests made within the same second therefore share their boundary.
    HttpRequest();

    // Takes `url` apart into server, objectPath, port and service. Its query pairs are appended to
    // formFields first, and stay there even when the URL is then refused. False for a null URL
    // (nothing changes) or a URL that cannot be taken apart (target fields keep their values).
    bool ParseUrl(const char* url);
    // The same for a URL already taken apart.
    bool ParseUrl(const Url& url);

    // Appends the pair as given: duplicates and empty texts stay. A null text counts as empty.
    void AddFormField(const char* name, const char* value);

    // 27 dashes and three rand() draws as "%04X%04X%04X": 39 characters.
    static std::string MakeBoundary();

    std::string boundary;
    std::vector<FormField> formFields;
    std::vector<FileField> fileFields;

private:
    void AddQueryFields(const std::string& text);
};

}  // namespace tamsel::web
