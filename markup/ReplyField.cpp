// Reply field lookup: one comment removed, one parse, a search of the top element's direct children.
#include "markup/ReplyField.h"

#include <string_view>

#include "markup/MarkupElement.h"

namespace tamsel::markup {
namespace {

// The body without its first comment: the stretch from the first "<!--" through the end of the first
// "-->", both searched from the start. When that "-->" ends before the "<!--" begins, everything from
// the "<!--" on goes; when it ends exactly there, nothing does. Any later comment stays and parses as an
// element named "!--". Returns zero-terminated text: a copy in `working`, or, when the cut removes only
// what the parse would skip anyway (nothing before the comment holds a '<' or a zero byte), a position
// in the body itself, which spares the copy for the usual reply that opens with its comment.
const char* WithoutFirstComment(const std::string& body, std::string& working) {
    const size_t open = body.find("<!--");
    const size_t close = body.find("-->");
    if (open == std::string::npos || close == std::string::npos || close + 3 == open) return body.c_str();
    const bool leading = body.find_first_of(std::string_view("<\0", 2)) == open;
    if (close + 3 > open) {
        if (leading) return body.c_str() + close + 3;
        working = body;
        working.erase(open, close + 3 - open);
    } else {
        if (leading) return "";
        working.assign(body, 0, open);
    }
    return working.c_str();
}

}  // namespace

std::string GetReplyField(const std::string& body, const char* name) {
    if (name == nullptr) return std::string();
    std::string working;
    MarkupElement root;
    if (root.Parse(WithoutFirstComment(body, working), DefaultMarkupOptions()) == nullptr) return std::string();
    const int count = root.ChildCount();
    for (int i = 0; i < count; ++i) {
        const MarkupElement* field = root.ChildAt(i);
        const MarkupAttribute* fieldName = field->FindAttribute("name");
        if (fieldName == nullptr || fieldName->value != name) continue;
        const MarkupAttribute* value = field->FindAttribute("value");
        return value != nullptr ? value->value : std::string();
    }
    return std::string();
}

std::string GetReplyField(const tamsel::web::WebReply& reply, const char* name) {
    return GetReplyField(reply.body, name);
}

}  // namespace tamsel::markup
