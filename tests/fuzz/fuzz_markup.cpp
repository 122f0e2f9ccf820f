// Fuzzes the markup parser and the reply lookup on arbitrary bytes, checking the tree's invariants.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "markup/MarkupElement.h"
#include "markup/ReplyField.h"

using namespace tamsel::markup;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Back links hold, the depth stays bounded and, when nothing is transformed, every name, value and
// text is a piece of the input. Walks the tree without recursion, as the parser does.
void CheckTree(const MarkupElement& root, const std::string& text, bool verbatim) {
    std::vector<std::pair<const MarkupElement*, int>> pending{{&root, 1}};
    while (!pending.empty()) {
        const auto [element, depth] = pending.back();
        pending.pop_back();
        Check(depth <= MAX_MARKUP_DEPTH + 1);
        Check(!verbatim || text.find(element->name) != std::string::npos);
        Check(!verbatim || text.find(element->text) != std::string::npos);
        for (int i = 0; i < element->AttributeCount(); ++i) {
            const MarkupAttribute& attribute = *element->AttributeAt(i);
            Check(attribute.owner == element);
            Check(!verbatim || text.find(attribute.value) != std::string::npos);
        }
        for (int i = 0; i < element->ChildCount(); ++i) {
            Check(element->ChildAt(i)->Parent() == element);
            Check(!element->ChildAt(i)->name.empty());  // nameless elements are dropped
            pending.emplace_back(element->ChildAt(i), depth + 1);
        }
    }
}

void ParseWith(const MarkupOptions& options, const std::string& text, bool verbatim) {
    MarkupElement root;
    MarkupError error;
    const char* end = root.Parse(text.c_str(), options, &error);
    Check(end == nullptr || (end >= text.c_str() && end <= text.c_str() + text.size()));
    if (error.IsSet()) {
        Check(end == nullptr);
        Check(error.Code() >= 1 && error.Code() <= 4);
        Check(error.Position() >= text.c_str() && error.Position() <= text.c_str() + text.size());
    }
    CheckTree(root, text, verbatim);
}

// The reply lookup done the long way, over a whole element tree of a copy without the first comment:
// the values of the first `limit` children of that name. GetReplyFields keeps no tree and copies only
// when it must, so it has to reach this same answer, and GetReplyField its first value.
std::vector<std::string> TreeLookup(std::string body, const char* name, size_t limit) {
    const size_t open = body.find("<!--"), close = body.find("-->");
    if (open != std::string::npos && close != std::string::npos) {
        if (close + 3 > open) body.erase(open, close + 3 - open);
        if (close + 3 < open) body.erase(open);
    }
    std::vector<std::string> values;
    MarkupElement root;
    if (root.Parse(body.c_str(), DefaultMarkupOptions()) == nullptr) return values;
    for (int i = 0; i < root.ChildCount() && values.size() < limit; ++i) {
        const MarkupAttribute* fieldName = root.ChildAt(i)->FindAttribute("name");
        if (fieldName == nullptr || fieldName->value != name) continue;
        const MarkupAttribute* value = root.ChildAt(i)->FindAttribute("value");
        values.push_back(value != nullptr ? value->value : std::string());
    }
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string body(reinterpret_cast<const char*>(data), size);
    const std::string text = body.c_str();  // what a parse sees: up to the first zero byte

    ParseWith(DefaultMarkupOptions(), text, false);
    ParseWith(MarkupOptions{}, text, true);

    for (const char* name : {"StatusCode", "downloadURL", "mirrorURL", "filesize", "a", ""}) {
        // Comment removal sees the whole body, so a zero byte inside the comment doesn't cut it short.
        const std::string value = GetReplyField(body, name);
        const std::vector<std::string> expected = TreeLookup(body, name, 8);
        Check(value.size() <= body.size());
        Check(value == (expected.empty() ? std::string() : expected.front()));
        Check(GetReplyFields(body, name, 8) == expected);
    }
    return 0;
}
