// Value processing and the failure messages of the forgiving parser.
#include "markup/MarkupParser.h"

#include <algorithm>

namespace tamsel::markup {
namespace {

void Trim(const char*& begin, const char*& end, const MarkupOptions& options) noexcept {
    if (!options.trim) return;
    while (begin < end && IsWhitespace(*begin)) ++begin;
    while (end > begin && IsWhitespace(end[-1])) --end;
}

// Escape removal, then decoding, of a string that holds the trimmed stretch.
void Transform(std::string& target, const MarkupOptions& options) noexcept {
    if (options.escape != '\0') RemoveEscapesInPlace(target, options.escape);
    if (options.decode && options.entities != nullptr) DecodeEntitiesInPlace(*options.entities, target);
}

// Whether escape removal or decoding would change [begin, end). An escape of 0 (none) could match only
// a zero byte, which no parsed stretch holds; a match would merely cost a needless copy.
bool NeedsTransform(const char* begin, const char* end, const MarkupOptions& options) noexcept {
    const char escape = options.escape;
    if (!options.decode || options.entities == nullptr) return std::find(begin, end, escape) != end;
    const EntityTable& entities = *options.entities;
    return std::find_if(begin, end, [&](char c) { return c == escape || entities.Begins(c); }) != end;
}

}  // namespace

void CopyRange(const char* begin, const char* end, std::string& target, const MarkupOptions& options) {
    Trim(begin, end, options);
    if (begin == end) return;
    target.assign(begin, end);
    Transform(target, options);
}

std::string_view ProcessedValue(const char* begin, const char* end, std::string& scratch,
                                const MarkupOptions& options) {
    Trim(begin, end, options);
    const std::string_view trimmed(begin, static_cast<size_t>(end - begin));
    if (!NeedsTransform(begin, end, options)) return trimmed;
    scratch.assign(begin, end);
    Transform(scratch, options);
    return scratch;
}

std::string FailureMessage(MarkupFailure code, std::string_view open, std::string_view closing) {
    switch (code) {
    case FAILURE_TAG_NOT_CLOSED: return "Element must be closed.";
    case FAILURE_CLOSING_NAME_CUT: return "it must be closed with </" + std::string(open) + ">";
    case FAILURE_CLOSING_NAME_OTHER:
        return "'<" + std::string(open) + "> ... </" + std::string(closing) + ">' is not wel-formed.";
    default: return "<" + std::string(open) + "> attribute has error ";  // the trailing blank is intended
    }
}

}  // namespace tamsel::markup
