// The two POST body encodings of a request's fields.
#include "web/RequestBody.h"

namespace tamsel::web {
namespace {

constexpr char DISPOSITION[] = "Content-Disposition: form-data; name=\"";

void AppendFormPart(std::string& body, const std::string& delimiter, const FormField& field) {
    body += delimiter;
    body += DISPOSITION;
    body += field.name;
    body += "\"\r\n\r\n";
    body += field.value;
    body += "\r\n";
}

bool AppendFilePart(std::string& body, const std::string& delimiter, const FileField& field) {
    std::string content;
    if (!ReadFileBytes(field.path, content)) return false;
    body += delimiter;
    body += DISPOSITION;
    body += field.name;
    body += "\"; filename=\"";
    body += field.path;
    body += "\"\r\nContent-Type: ";
    body += field.contentType;
    body += "\r\n\r\n";
    body += content;
    body += "\r\n";
    return true;
}

}  // namespace

std::string BuildUrlEncodedBody(const HttpRequest& request) {
    std::string body;
    for (size_t i = 0; i < request.formFields.size(); ++i) {
        if (i > 0) body += '&';
        body += request.formFields[i].name;
        body += '=';
        body += request.formFields[i].value;
    }
    return body;
}

std::optional<std::string> BuildMultipartBody(const HttpRequest& request) {
    const std::string delimiter = "--" + request.boundary + "\r\n";
    std::string body;
    for (const FormField& field : request.formFields) {
        AppendFormPart(body, delimiter, field);
    }
    for (const FileField& field : request.fileFields) {
        if (!AppendFilePart(body, delimiter, field)) return std::nullopt;
    }
    body += "--" + request.boundary + "--\r\n";
    return body;
}

}  // namespace tamsel::web
