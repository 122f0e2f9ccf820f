// The forgiving parser's algorithm, written once for whatever a parse keeps: the element tree that
// MarkupElement::Parse builds, or the little that the reply lookup needs. Internal to the reader.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "markup/MarkupElement.h"
#include "markup/Scanning.h"

namespace tamsel::markup {

// What value processing makes of [begin, end), as CopyRange would write it into an empty target:
// a view of the text itself when processing would only trim it, else of `scratch`, which then holds
// the processed copy. Spares a copy for the usual value, which has no escape and no reference.
std::string_view ProcessedValue(const char* begin, const char* end, std::string& scratch,
                                const MarkupOptions& options);

// The recorded message of a failure, formatted with the open and closing names.
std::string FailureMessage(MarkupFailure code, std::string_view open, std::string_view closing);

// One parse of zero-terminated text, read in place. What it keeps of the elements is up to Tree,
// which hands out Node handles and provides:
//   Node AddChild(Node parent)         a new, nameless element appended as parent's last child
//   void DropLastChild(Node parent)    removes parent's last child again
//   Node Parent(Node)                  never asked of the element the parse started on
//   void SetName(Node, std::string_view name)             a view into the text, as written
//   std::string_view Name(Node)
//   void AddAttribute(Node, std::string_view name, const char* valueBegin, const char* valueEnd)
//                                      appends an attribute whose value is the stretch after value
//                                      processing; an attribute without '=' has an empty stretch
//   void SetText(Node, const char* begin, const char* end)  value processing into the text;
//                                      called only while the element's text is blank
//   bool TextIsBlank(Node)
// The open elements form a chain from the root through Parent, and the innermost is always the last
// child of its parent, so nesting costs the tree's memory, never stack.
template <class Tree>
class MarkupParser {
public:
    using Node = typename Tree::Node;

    // A failure goes to error, when one is given.
    MarkupParser(Tree& parseTree, const MarkupOptions& parseOptions, MarkupError* parseError)
        : tree(parseTree), options(parseOptions), error(parseError) {}

    // Reads the first element at or after p into root. Returns the position after what it consumed, or
    // null on failure; whatever was built before a failure stays in the tree.
    const char* Parse(Node root, const char* p) {
        const TagRead tag = ReadStartTag(root, p);
        if (tag.end != TagEnd::Open) return tag.position;
        return ReadContent(root, tag.position);
    }

private:
    static constexpr StopSet NAME_END{" />"};  // a tab or line break does not end a tag name
    static constexpr StopSet ATTRIBUTE_NAME_END{" ="};
    static constexpr StopSet VALUE_END{" >"};
    static constexpr StopSet CLOSING_NAME_END{" >"};

    enum class TagEnd { Failed, Closing, Empty, Open };

    struct TagRead {
        const char* position;  // null when failed; at the '<' of a closing tag; else after the tag
        TagEnd end;
    };

    struct ValueRead {
        const char* begin;  // the value's stretch, before value processing
        const char* end;
        const char* next;  // where the attribute list goes on
    };

    const char* ReadContent(Node root, const char* p);
    TagRead ReadStartTag(Node element, const char* p);
    const char* ReadAttributes(Node element, const char* p);
    static ValueRead ReadAttributeValue(const char* r) noexcept;
    const char* ReadClosingTag(Node element, const char* p);

    const char* ReadText(Node element, const char* p) {
        const char* end = ScanTo(p, '<');
        tree.SetText(element, p, end);
        return end;
    }

    void Record(MarkupFailure code, const char* at, std::string_view open, std::string_view closing = {}) {
        if (error == nullptr || error->IsSet()) return;  // spares formatting a message nobody keeps
        error->Record(code, at, FailureMessage(code, open, closing));
    }

    // A nameless element is parsed like any other and then dropped; it is always its parent's last child.
    void DropIfNameless(Node element) {
        if (tree.Name(element).empty()) tree.DropLastChild(tree.Parent(element));
    }

    // Ends the parse at `from`: each open element between it and the root is kept if named.
    void Unwind(Node from, Node root) {
        while (from != root) {
            const Node up = tree.Parent(from);
            DropIfNameless(from);
            from = up;
        }
    }

    Tree& tree;
    const MarkupOptions& options;
    MarkupError* error;
};

template <class Tree>
const char* MarkupParser<Tree>::ReadContent(Node root, const char* p) {
    Node current = root;
    int depth = 1;
    const char* q = ReadText(root, p);
    for (;;) {
        if (*q == '\0') {  // elements still open at the end are accepted, ancestors too
            Unwind(current, root);
            return q;
        }
        if (q[0] == '<' && q[1] == '/') {
            q = ReadClosingTag(current, q);
            if (q == nullptr || current == root) {
                Unwind(current, root);
                return q;
            }
            const Node up = tree.Parent(current);
            DropIfNameless(current);
            current = up;
            --depth;
        } else {
            const Node child = tree.AddChild(current);
            const TagRead tag = ReadStartTag(child, q);
            if (tag.end == TagEnd::Failed) {
                Unwind(child, root);
                return nullptr;
            }
            if (tag.end != TagEnd::Closing && depth == MAX_MARKUP_DEPTH) {  // too deep: drop, fail
                tree.DropLastChild(current);
                Unwind(current, root);
                return nullptr;
            }
            q = tag.position;
            if (tag.end == TagEnd::Open) {
                current = child;
                ++depth;
                q = ReadText(child, q);
                continue;
            }
            DropIfNameless(child);
        }
        if (*q != '<' && tree.TextIsBlank(current)) q = ReadText(current, q);  // first non-blank run only
    }
}

template <class Tree>
typename MarkupParser<Tree>::TagRead MarkupParser<Tree>::ReadStartTag(Node element, const char* p) {
    const char* open = std::strchr(p, '<');
    if (open == nullptr) return {nullptr, TagEnd::Failed};
    if (open[1] == '/') return {open, TagEnd::Closing};
    // Only a space, '/' or '>' ends a name: a tab or line break becomes part of it.
    const char* nameEnd = ScanToAny(open + 1, NAME_END);
    if (*nameEnd == '\0') return {nullptr, TagEnd::Failed};
    tree.SetName(element, std::string_view(open + 1, static_cast<size_t>(nameEnd - (open + 1))));
    const char* q = ReadAttributes(element, nameEnd);
    if (q == nullptr) return {nullptr, TagEnd::Failed};
    if (*q == '>') return {q + 1, TagEnd::Open};
    if (q[1] == '>') return {q + 2, TagEnd::Empty};
    Record(FAILURE_TAG_NOT_CLOSED, q + 1, tree.Name(element));
    return {nullptr, TagEnd::Failed};
}

// Returns the '/' or '>' that ends the list, or null.
template <class Tree>
const char* MarkupParser<Tree>::ReadAttributes(Node element, const char* p) {
    for (;;) {
        if (*p == '\0') return nullptr;  // after a value or a valueless name: no record
        const char* q = SkipBlanks(p);
        if (*q == '>' || *q == '/') return q;
        // A '>' does not end an attribute name: in `<a b>x y` the name is `b>x`.
        const char* nameEnd = ScanToAny(q, ATTRIBUTE_NAME_END);
        if (*nameEnd == '\0') {
            Record(FAILURE_ATTRIBUTE_NAME_CUT, q, tree.Name(element));
            return nullptr;
        }
        const ValueRead value = ReadAttributeValue(SkipBlanks(nameEnd));
        const std::string_view name(q, static_cast<size_t>(nameEnd - q));
        tree.AddAttribute(element, name, value.begin, value.end);
        p = value.next;
    }
}

// r is where the attribute's name and the blanks after it end.
template <class Tree>
typename MarkupParser<Tree>::ValueRead MarkupParser<Tree>::ReadAttributeValue(const char* r) noexcept {
    if (*r != '=') return {r, r, r};  // no value: parsing goes on at r
    const char* v = SkipBlanks(r + 1);
    if (*v == '"' || *v == '\'') {
        const char* close = ScanTo(v + 1, *v);
        // An unclosed quote fails on the attribute list's next round.
        return {v + 1, close, *close == '\0' ? close : close + 1};
    }
    // A '/' does not end an unquoted value: `x=1/>` gives `1/` and a start tag with content.
    const char* stop = ScanToAny(v, VALUE_END);
    return {v, stop, stop};
}

// p is at "</". Returns the position after the space or '>' that ends the closing name, or null.
template <class Tree>
const char* MarkupParser<Tree>::ReadClosingTag(Node element, const char* p) {
    const char* nameStart = SkipBlanks(p + 2);
    const char* nameEnd = ScanToAny(nameStart, CLOSING_NAME_END);
    if (*nameEnd == '\0') {
        Record(FAILURE_CLOSING_NAME_CUT, nameStart, tree.Name(element));
        return nullptr;
    }
    const std::string_view closing(nameStart, static_cast<size_t>(nameEnd - nameStart));
    if (closing == tree.Name(element)) return nameEnd + 1;
    Record(FAILURE_CLOSING_NAME_OTHER, nameEnd + 1, tree.Name(element), closing);  // case matters, and nothing closes implicitly
    return nullptr;
}

}  // namespace tamsel::markup
