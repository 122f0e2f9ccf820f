// The element model: the tree a parse builds, its bookkeeping, the failure record and the process-wide
// options.
#include "markup/MarkupElement.h"

#include "markup/MarkupParser.h"

#include <memory>
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

// Every element, attribute and text of a parse, kept in the MarkupElement on which it started.
class ElementTree {
public:
    using Node = MarkupElement*;

    explicit ElementTree(const MarkupOptions& parseOptions) : options(parseOptions) {}

    Node AddChild(Node parent) {
        if (parent->children.empty()) parent->children.reserve(8);  // a reply's container holds a handful
        parent->children.push_back(std::make_unique<MarkupElement>());
        MarkupElement* child = parent->children.back().get();
        child->parent = parent;
        return child;
    }
    void DropLastChild(Node parent) noexcept { parent->children.pop_back(); }
    Node Parent(Node element) const noexcept { return element->parent; }
    void SetName(Node element, std::string_view name) { element->name.assign(name); }
    std::string_view Name(Node element) const noexcept { return element->name; }

    void AddAttribute(Node element, std::string_view name, const char* valueBegin, const char* valueEnd) {
        if (element->attributes.empty()) element->attributes.reserve(4);  // fields carry two; one allocation
        element->attributes.push_back(MarkupAttribute{std::string(name), std::string(), element});
        CopyRange(valueBegin, valueEnd, element->attributes.back().value, options);
    }

    void SetText(Node element, const char* begin, const char* end) {
        CopyRange(begin, end, element->text, options);
    }
    bool TextIsBlank(Node element) const noexcept { return IsBlank(element->text); }

private:
    const MarkupOptions& options;
};

const char* MarkupElement::Parse(const char* position, const MarkupOptions& options, MarkupError* error) {
    Clear();
    if (position == nullptr) return nullptr;
    ElementTree tree(options);
    return MarkupParser<ElementTree>(tree, options, error).Parse(this, position);
}

}  // namespace tamsel::markup
