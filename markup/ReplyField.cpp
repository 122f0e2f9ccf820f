// Reply field lookup: one comment removed, one parse, a search of the top element's direct children.
#include "markup/ReplyField.h"

#include "markup/MarkupElement.h"

namespace tamsel::markup {
namespace {

// Removes the stretch from the first "<!--" through the end of the first "-->", both searched from
// the start. When that "-->" ends before the "<!--" begins, everything from the "<!--" on goes; when
// it ends exactly there, nothing does. Any later comment stays and parses as an element named "!--".
void RemoveFirstComment(std::string& text) {
    const size_t open = text.find("<!--");
    const size_t close = text.find("-->");
    if (open == std::string::npos || close == std::string::npos) return;
    const size_t closeEnd = close + 3;
    if (closeEnd > open) {
        text.erase(open, closeEnd - open);
    } else if (closeEnd < open) {
        text.erase(open);
    }
}

}  // namespace

std::string GetReplyField(const std::string& body, const char* name) {
    if (name == nullptr) return std::string();
    std::string working = body;
    RemoveFirstComment(working);
    MarkupElement root;
    if (root.Parse(working.c_str(), DefaultMarkupOptions()) == nullptr) return std::string();
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
