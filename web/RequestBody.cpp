// The two POST body encodings of a request's fields.
#include "web/RequestBody.h"

namespace tamsel::web {
namespace {

// A part's opening lines up to the blank line; `more` goes between the name's closing quote and the CRLF.
void AppendPartHead(std::string& body, const std::string& delimiter, const std::string& name,
                    const std::string& more) {
    body += delimiter;
    body += "Content-Disposition: form-data; name=\"";
    body += name;
    body += '"';
    body += more;
    body += "\r\n\r\n";
}

void AppendFormPart(std::string& body, const std::string& delimiter, const FormField& field) {
    AppendPartHead(body, delimiter, field.name, "");
    body += field.value;
    body += "\r\n";
}

bool AppendFilePart(std::string& body, const std::string& delimiter, const FileField& field) {
    std::string content;
    if (!ReadFileBytes(field.path, content)) return false;
    AppendPartHead(body, delimiter, field.name,
                   "; filename=\"" + field.path + "\"\r\nContent-Type: " + field.contentType);
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
