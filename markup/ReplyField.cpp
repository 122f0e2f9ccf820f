// Reply field lookup: one comment removed, one parse, a search of the top element's direct children.
#include "markup/ReplyField.h"

#include <string_view>
#include <utility>

#include "markup/MarkupParser.h"

namespace tamsel::markup {
namespace {

// The index of the first `marker` in text, or npos. Looks for the marker's last character, which is
// rarer in a reply than its first: markup is full of '<', and a comment's text of "-".
size_t Find(std::string_view text, std::string_view marker) noexcept {
    const size_t lastOffset = marker.size() - 1;
    for (size_t last = text.find(marker.back(), lastOffset); last != std::string_view::npos;
         last = text.find(marker.back(), last + 1)) {
        if (text.compare(last - lastOffset, marker.size(), marker) == 0) return last - lastOffset;
    }
    return std::string_view::npos;
}

// The body without its first comment: the stretch from the first "<!--" through the end of the first
// "-->", both searched from the start. When that "-->" ends before the "<!--" begins, everything from
// the "<!--" on goes; when it ends exactly there, nothing does. Any later comment stays and parses as an
// element named "!--". Returns zero-terminated text: a copy in `working`, or, when the cut removes only
// what the parse would skip anyway (nothing before the comment holds a '<' or a zero byte), a position
// in the body itself, which spares the copy for the usual reply that opens with its comment.
const char* WithoutFirstComment(const std::string& body, std::string& working) {
    const size_t open = Find(body, "<!--");
    if (open == std::string::npos) return body.c_str();
    const size_t close = Find(body, "-->");
    if (close == std::string::npos || close + 3 == open) return body.c_str();
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

// What the lookup keeps of a parse instead of the element tree: the open elements' names and whether
// their texts are still blank, which the parse itself needs, and, of the top element's direct children,
// the first "name" and "value" attributes of the one being read, unprocessed, until `limit` have
// matched. The parse reaches exactly the same decisions as over the tree; nothing is copied but the
// values of the matches.
class FieldSearch {
public:
    using Node = int;  // the element's level: 0 for the top element, 1 for its direct children
    static constexpr Node TOP = 0;

    FieldSearch(std::string_view wantedName, size_t limit, const MarkupOptions& parseOptions)
        : wanted(wantedName), wantedCount(limit), options(parseOptions) {
        open[TOP] = OpenElement{"", 0, true};
    }

    // The matches' values after value processing, in document order. Meaningful once the parse has
    // succeeded.
    std::vector<std::string> TakeValues() {
        EndField();
        return std::move(values);
    }

    // Levels below MAX_MARKUP_DEPTH + 1 only: the parse fails before it opens one more.
    Node AddChild(Node parent) {
        const Node child = parent + 1;
        open[child] = OpenElement{"", 0, true};
        if (child == 1) EndField();  // the previous field's tag, with all its attributes, is behind
        return child;
    }
    // Only nameless elements are dropped from a parse that goes on, and those are never candidates.
    void DropLastChild(Node) noexcept {}
    Node Parent(Node element) const noexcept { return element - 1; }
    void SetName(Node element, std::string_view name) noexcept {
        open[element].name = name.data();
        open[element].nameLength = name.size();
    }
    std::string_view Name(Node element) const noexcept {
        return std::string_view(open[element].name, open[element].nameLength);
    }

    void AddAttribute(Node element, std::string_view name, const char* valueBegin, const char* valueEnd) {
        if (element != 1 || values.size() == wantedCount || open[1].nameLength == 0) return;  // not a field
        if (name == "value" && field.valueBegin == nullptr) {
            field.valueBegin = valueBegin;
            field.valueEnd = valueEnd;
        } else if (name == "name" && !field.nameCompared) {
            field.nameCompared = true;
            field.matches = ProcessedValue(valueBegin, valueEnd, scratch, options) == wanted;
        }
    }

    void SetText(Node element, const char* begin, const char* end) {
        open[element].textBlank = IsBlank(ProcessedValue(begin, end, scratch, options));
    }
    bool TextIsBlank(Node element) const noexcept { return open[element].textBlank; }

private:
    // Plain fields, so that the array of them costs nothing to create.
    struct OpenElement {
        const char* name;
        size_t nameLength;
        bool textBlank;
    };
    // A direct child of the top element, as far as the lookup cares.
    struct Field {
        bool nameCompared;       // its first "name" attribute has been compared with the wanted name
        bool matches;            // and equalled it
        const char* valueBegin;  // its first "value" attribute, unprocessed; null while it has none
        const char* valueEnd;
    };

    // Keeps the value of the field just read if it matched, and makes room for the next one. The value
    // is processed at once: its text may be a working copy that ends with the lookup.
    void EndField() {
        if (field.matches && values.size() < wantedCount) {
            values.emplace_back();
            if (field.valueBegin != nullptr) CopyRange(field.valueBegin, field.valueEnd, values.back(), options);
        }
        field = Field{};
    }

    const std::string_view wanted;
    const size_t wantedCount;
    const MarkupOptions& options;
    OpenElement open[MAX_MARKUP_DEPTH + 1];  // by level; set as each level opens, so left uninitialised
    Field field{};
    std::vector<std::string> values;
    std::string scratch;  // processed copies, each used at once
};

}  // namespace

std::vector<std::string> GetReplyFields(const std::string& body, const char* name, size_t limit,
                                        MarkupError* error) {
    if (name == nullptr || limit == 0) return {};
    std::string working;
    const MarkupOptions& options = DefaultMarkupOptions();
    FieldSearch search(name, limit, options);
    const char* text = WithoutFirstComment(body, working);
    MarkupParser<FieldSearch> parser(search, options, error);
    if (parser.Parse(FieldSearch::TOP, text) == nullptr) return {};
    return search.TakeValues();
}

std::string GetReplyField(const std::string& body, const char* name, MarkupError* error) {
    std::vector<std::string> values = GetReplyFields(body, name, 1, error);
    return values.empty() ? std::string() : std::move(values.front());
}

}  // namespace tamsel::markup
