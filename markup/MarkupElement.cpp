// The element model's bookkeeping, the failure record and the process-wide options.
#include "markup/MarkupElement.h"

#include <utility>

namespace tamsel::markup {

void MarkupError::Record(MarkupFailure failureCode, const char* failurePosition,
                         std::string&& failureMessage) noexcept {
    if (IsSet()) return;
    position = failurePosition;
    code = failureCode;
    message = std::move(failureMessage);
}

const MarkupOptions& DefaultMarkupOptions() noexcept {
    static const MarkupOptions options{true, true, &DefaultEntityTable(), '\\'};
    return options;
}

void MarkupElement::Clear() noexcept {
    attributes.clear();
    // Deletes deepest-last first, walking back up through the parent links, so that tearing down a
    // deep tree needs no recursion: each element is destroyed only once it has no children left.
    MarkupElement* node = this;
    for (;;) {
        if (!node->children.empty()) {
            node = node->children.back().get();
            continue;
        }
        if (node == this) return;
        MarkupElement* up = node->parent;
        up->children.pop_back();
        node = up;
    }
}

MarkupElement* MarkupElement::ChildAt(int index) const noexcept {
    if (index < 0 || index >= ChildCount()) return nullptr;
    return children[static_cast<size_t>(index)].get();
}

const MarkupAttribute* MarkupElement::AttributeAt(int index) const noexcept {
    if (index < 0 || index >= AttributeCount()) return nullptr;
    return &attributes[static_cast<size_t>(index)];
}

const MarkupAttribute* MarkupElement::FindAttribute(std::string_view attributeName) const noexcept {
    for (const MarkupAttribute& attribute : attributes) {
        if (attribute.name == attributeName) return &attribute;
    }
    return nullptr;
}

}  // namespace tamsel::markup
