// The markup document model: elements, attributes, parse options and the record of a parse's failure.
//
// The component itself reads replies without building a tree: GetReplyField runs the same parser over
// a search that keeps only the field it looks for. The element tree is the reader's full form, kept
// for the tests and the fuzzer, which hold the tree-less search against it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "markup/Entities.h"

namespace tamsel::markup {

class MarkupElement;

struct MarkupAttribute {
    std::string name;   // as written
    std::string value;  // after value processing; empty when there is no '='
    MarkupElement* owner = nullptr;
};

// The failures a parse records, by the code the record keeps.
enum MarkupFailure : int32_t {
    FAILURE_TAG_NOT_CLOSED = 1,        // a '/' in a start tag that no '>' follows
    FAILURE_CLOSING_NAME_CUT = 2,      // the text ends inside a closing tag's name
    FAILURE_CLOSING_NAME_OTHER = 3,    // a closing tag names another element
    FAILURE_ATTRIBUTE_NAME_CUT = 4,    // the text ends inside an attribute's name
};

// The first failure of the parses that a caller hands this record to; later failures never overwrite
// it. A parse whose caller wants no record is given none: the component itself reads only whether a
// reply could be read, and the tests and the fuzzer read the record.
class MarkupError {
public:
    bool IsSet() const noexcept { return code != 0; }
    const char* Position() const noexcept { return position; }
    int32_t Code() const noexcept { return code; }
    const std::string& Message() const noexcept { return message; }

    // Keeps the failure unless one was recorded before.
    void Record(MarkupFailure failureCode, const char* failurePosition, std::string&& failureMessage) noexcept;

private:
    const char* position = nullptr;  // into the parsed text; never dereferenced after the parse
    int32_t code = 0;
    std::string message;
};

struct MarkupOptions {
    bool trim = false;                      // strip whitespace around values and texts
    bool decode = false;                    // decode entity references in values and texts
    const EntityTable* entities = nullptr;  // nothing is decoded while null
    char escape = 0;                        // removed from values and texts; 0 for none
};

// The options of every parse in the component: trim, decode with DefaultEntityTable(), backslash
// escape. Built on first use (thread-safe), read only, and kept until the module unloads.
const MarkupOptions& DefaultMarkupOptions() noexcept;

// Levels of elements that one parse accepts; a deeper document fails like a malformed one, without a
// record. Real replies have two or three levels; the bound keeps a hostile reply from building an
// unbounded tree. The parse itself uses no stack per level.
constexpr int MAX_MARKUP_DEPTH = 256;

// Value processing of [begin, end) into target: trim, then escape removal, then decoding. A stretch
// that is empty after trimming leaves target as it was.
void CopyRange(const char* begin, const char* end, std::string& target, const MarkupOptions& options);

class MarkupElement {
public:
    std::string name;  // as written: no trimming, escapes or decoding
    std::string text;  // the first run of character data that is not blank after value processing

    MarkupElement() = default;
    MarkupElement(const MarkupElement&) = delete;
    MarkupElement& operator=(const MarkupElement&) = delete;
    ~MarkupElement() { Clear(); }

    // Reads the first element at or after `position` (zero-terminated text, read in place) into this
    // element. Returns the position after what it consumed, or null on failure; whatever was built
    // before a failure stays attached. A nameless result means "no element" (the text reached a
    // closing tag first). A failure goes to `error` when one is given. Throws only std::bad_alloc.
    const char* Parse(const char* position, const MarkupOptions& options, MarkupError* error = nullptr);

    // Deletes all children and attributes; name and text stay.
    void Clear() noexcept;

    int ChildCount() const noexcept { return static_cast<int>(children.size()); }
    MarkupElement* ChildAt(int index) const noexcept;
    MarkupElement* Parent() const noexcept { return parent; }
    int AttributeCount() const noexcept { return static_cast<int>(attributes.size()); }
    const MarkupAttribute* AttributeAt(int index) const noexcept;
    // The first attribute with exactly this name, in order of appearance, or null.
    const MarkupAttribute* FindAttribute(std::string_view attributeName) const noexcept;

private:
    friend class ElementTree;

    MarkupElement* parent = nullptr;  // not owning; every child's parent is the element that owns it
    std::vector<std::unique_ptr<MarkupElement>> children;
    std::vector<MarkupAttribute> attributes;
};

}  // namespace tamsel::markup
