// What one HTTP or FTP exchange sends: target, form and file fields, boundary.
#include "web/HttpRequest.h"

#include "web/UrlSplit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tamsel::web {

HttpRequest::HttpRequest() {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    boundary = MakeBoundary();
}

std::string HttpRequest::MakeBoundary() {
    // Drawn one by one: the order of evaluation of call arguments is unspecified.
    const unsigned r1 = static_cast<unsigned>(std::rand()) & 0xFFFF;
    const unsigned r2 = static_cast<unsigned>(std::rand()) & 0xFFFF;
    const unsigned r3 = static_cast<unsigned>(std::rand()) & 0xFFFF;
    char digits[13];
    std::snprintf(digits, sizeof digits, "%04X%04X%04X", r1, r2, r3);
    return std::string(27, '-') + digits;
}

void HttpRequest::AddFormField(const char* name, const char* value) {
    formFields.push_back({name ? name : "", value ? value : ""});
}

bool HttpRequest::ParseUrl(const char* url) {
    return url != nullptr && ParseUrl(TakeApart(url));
}

bool HttpRequest::ParseUrl(const Url& url) {
    AddQueryFields(url.text);
    if (!url.parts) return false;
    const ServiceKind earlier = service;
    static_cast<UrlParts&>(*this) = *url.parts;
    if (service == SERVICE_NONE) service = earlier;  // a scheme other than the three keeps the earlier one
    // The path ends at the first "?" while the query pairs start after the last one: with two
    // question marks the text between them is in neither. A space before the "?" stays in the path, at
    // its end, where Wine's WinINet drops it from the request line ("/f.bin ?v=2" is a GET of "/f.bin").
    objectPath.erase(std::min(objectPath.find('?'), objectPath.size()));
    return true;
}

// Pairs after the last "?": name up to the next "=", value up to the next "&". A trailing name
// without "=" is dropped, and "a&b=2" is the one name "a&b". Nothing is decoded; "#" is plain text.
void HttpRequest::AddQueryFields(const std::string& text) {
    size_t q = text.rfind('?');
    if (q == std::string::npos) return;
    for (size_t e = text.find('=', q); e != std::string::npos; e = text.find('=', q)) {
        size_t a = std::min(text.find('&', e), text.size());
        formFields.push_back({text.substr(q + 1, e - q - 1), text.substr(e + 1, a - e - 1)});
        if (a == text.size()) return;
        q = a;
    }
}

}  // namespace tamsel::web
