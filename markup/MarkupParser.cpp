// The forgiving markup parser: start tags, attribute lists, closing tags, texts and value processing.
#include <cstring>
#include <string_view>

#include "markup/MarkupElement.h"
#include "markup/Scanning.h"

namespace tamsel::markup {
namespace {

constexpr StopSet kNameEnd(" />");  // a tab or line break does not end a tag name
constexpr StopSet kAttributeNameEnd(" =");
constexpr StopSet kValueEnd(" >");
constexpr StopSet kClosingNameEnd(" >");

enum class TagEnd { Failed, Closing, Empty, Open };

struct TagRead {
    const char* position;  // null when failed; at the '<' of a closing tag; else after the tag
    TagEnd end;
};

std::string FailureMessage(int32_t code, std::string_view open, std::string_view closing) {
    switch (code) {
    case 1: return "Element must be closed.";
    case 2: return "it must be closed with </" + std::string(open) + ">";
    case 3: return "'<" + std::string(open) + "> ... </" + std::string(closing) + ">' is not wel-formed.";
    default: return "<" + std::string(open) + "> attribute has error ";  // the trailing blank is intended
    }
}

}  // namespace

void CopyRange(const char* begin, const char* end, std::string& target, const MarkupOptions& options) {
    if (options.trim) {
        while (begin < end && IsWhitespace(*begin)) ++begin;
        while (end > begin && IsWhitespace(end[-1])) --end;
    }
    if (begin == end) return;
    target.assign(begin, end);
    if (options.escape != '\0') RemoveEscapesInPlace(target, options.escape);
    if (options.decode && options.entities != nullptr) DecodeEntitiesInPlace(*options.entities, target);
}

// One parse. The open elements form a chain from the root through the parent links, and the innermost
// is always the last child of its parent, so nesting costs heap, never stack.
class MarkupParser {
public:
    explicit MarkupParser(MarkupOptions& parseOptions) : options(parseOptions) {}

    const char* ParseElement(MarkupElement& root, const char* p) {
        const TagRead tag = ReadStartTag(root, p);
        if (tag.end != TagEnd::Open) return tag.position;
        return ReadContent(root, tag.position);
    }

private:
    const char* ReadContent(MarkupElement& root, const char* p);
    TagRead ReadStartTag(MarkupElement& element, const char* p);
    const char* ReadAttributes(MarkupElement& element, const char* p);
    const char* ReadAttributeValue(MarkupAttribute& attribute, const char* r);
    const char* ReadClosingTag(const MarkupElement& element, const char* p);
    const char* ReadText(MarkupElement& element, const char* p);
    void Record(int32_t code, const char* at, std::string_view open, std::string_view closing = {});

    static MarkupElement& AppendChild(MarkupElement& element);
    static void DropIfNameless(MarkupElement& element) noexcept;
    static void Unwind(MarkupElement* from, const MarkupElement& root) noexcept;

    MarkupOptions& options;
};

const char* MarkupParser::ReadContent(MarkupElement& root, const char* p) {
    MarkupElement* current = &root;
    int depth = 1;
    const char* q = ReadText(root, p);
    for (;;) {
        if (*q == '\0') {  // elements still open at the end are accepted, ancestors too
            Unwind(current, root);
            return q;
        }
        if (q[0] == '<' && q[1] == '/') {
            q = ReadClosingTag(*current, q);
            if (q == nullptr || current == &root) {
                Unwind(current, root);
                return q;
            }
            MarkupElement* up = current->parent;
            DropIfNameless(*current);
            current = up;
            --depth;
        } else {
            MarkupElement& child = AppendChild(*current);
            const TagRead tag = ReadStartTag(child, q);
            if (tag.end == TagEnd::Failed) {
                Unwind(&child, root);
                return nullptr;
            }
            if (tag.end != TagEnd::Closing && depth == kMaxMarkupDepth) {  // too deep: drop, fail
                current->children.pop_back();
                Unwind(current, root);
                return nullptr;
            }
            q = tag.position;
            if (tag.end == TagEnd::Open) {
                current = &child;
                ++depth;
                q = ReadText(child, q);
                continue;
            }
            DropIfNameless(child);
        }
        if (IsBlank(current->text) && *q != '<') q = ReadText(*current, q);  // first non-blank run only
    }
}

TagRead MarkupParser::ReadStartTag(MarkupElement& element, const char* p) {
    const char* open = std::strchr(p, '<');
    if (open == nullptr) return {nullptr, TagEnd::Failed};
    if (open[1] == '/') return {open, TagEnd::Closing};
    // Only a space, '/' or '>' ends a name: a tab or line break becomes part of it.
    const char* nameEnd = ScanToAny(open + 1, kNameEnd);
    if (*nameEnd == '\0') return {nullptr, TagEnd::Failed};
    element.name.assign(open + 1, nameEnd);
    const char* q = ReadAttributes(element, nameEnd);
    if (q == nullptr) return {nullptr, TagEnd::Failed};
    if (*q == '>') return {q + 1, TagEnd::Open};
    if (q[1] == '>') return {q + 2, TagEnd::Empty};
    Record(1, q + 1, element.name);
    return {nullptr, TagEnd::Failed};
}

// Returns the '/' or '>' that ends the list, or null.
const char* MarkupParser::ReadAttributes(MarkupElement& element, const char* p) {
    for (;;) {
        if (*p == '\0') return nullptr;  // after a value or a valueless name: no record
        const char* q = SkipBlanks(p);
        if (*q == '>' || *q == '/') return q;
        // A '>' does not end an attribute name: in `<a b>x y` the name is `b>x`.
        const char* nameEnd = ScanToAny(q, kAttributeNameEnd);
        if (*nameEnd == '\0') {
            Record(4, q, element.name);
            return nullptr;
        }
        if (element.attributes.empty()) element.attributes.reserve(4);  // fields carry two; one allocation
        element.attributes.push_back(MarkupAttribute{std::string(q, nameEnd), std::string(), &element});
        p = ReadAttributeValue(element.attributes.back(), SkipBlanks(nameEnd));
    }
}

const char* MarkupParser::ReadAttributeValue(MarkupAttribute& attribute, const char* r) {
    if (*r != '=') return r;
    const char* v = SkipBlanks(r + 1);
    if (*v == '"' || *v == '\'') {
        const char* close = ScanTo(v + 1, *v);
        CopyRange(v + 1, close, attribute.value, options);
        return *close == '\0' ? close : close + 1;  // an unclosed quote fails on the next round
    }
    // A '/' does not end an unquoted value: `x=1/>` gives `1/` and a start tag with content.
    const char* stop = ScanToAny(v, kValueEnd);
    CopyRange(v, stop, attribute.value, options);
    return stop;
}

// p is at "</". Returns the position after the space or '>' that ends the closing name, or null.
const char* MarkupParser::ReadClosingTag(const MarkupElement& element, const char* p) {
    const char* nameStart = SkipBlanks(p + 2);
    const char* nameEnd = ScanToAny(nameStart, kClosingNameEnd);
    if (*nameEnd == '\0') {
        Record(2, nameStart, element.name);
        return nullptr;
    }
    const std::string_view closing(nameStart, static_cast<size_t>(nameEnd - nameStart));
    if (closing == element.name) return nameEnd + 1;
    Record(3, nameEnd + 1, element.name, closing);  // case matters, and nothing closes implicitly
    return nullptr;
}

const char* MarkupParser::ReadText(MarkupElement& element, const char* p) {
    const char* end = ScanTo(p, '<');
    CopyRange(p, end, element.text, options);
    return end;
}

void MarkupParser::Record(int32_t code, const char* at, std::string_view open, std::string_view closing) {
    if (options.error.IsSet()) return;  // spares formatting a message that would be discarded
    options.error.Record(code, at, FailureMessage(code, open, closing));
}

MarkupElement& MarkupParser::AppendChild(MarkupElement& element) {
    if (element.children.empty()) element.children.reserve(8);  // a reply's container holds a handful
    element.children.push_back(std::make_unique<MarkupElement>());
    MarkupElement& child = *element.children.back();
    child.parent = &element;
    return child;
}

// A nameless element is parsed like any other and then deleted; it is always its parent's last child.
void MarkupParser::DropIfNameless(MarkupElement& element) noexcept {
    if (element.name.empty()) element.parent->children.pop_back();
}

// Ends the parse at `from`: each open element between it and the root is kept if named.
void MarkupParser::Unwind(MarkupElement* from, const MarkupElement& root) noexcept {
    while (from != &root) {
        MarkupElement* up = from->parent;
        DropIfNameless(*from);
        from = up;
    }
}

const char* MarkupElement::Parse(const char* position, MarkupOptions& options) {
    Clear();
    if (position == nullptr) return nullptr;
    return MarkupParser(options).ParseElement(*this, position);
}

}  // namespace tamsel::markup
