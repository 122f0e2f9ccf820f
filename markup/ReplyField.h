// Reading named values out of a service reply body: the first of a name, or each of a name in order.
#pragma once

#include "markup/MarkupElement.h"

#include <cstddef>
#include <string>
#include <vector>

namespace tamsel::markup {

// The "value" attribute of the first direct child of the body's top element whose "name" attribute
// equals `name` exactly, or empty: for a missing field, a field without "value", an unreadable body
// and a genuinely empty value alike. The body loses its first comment before it is parsed with
// DefaultMarkupOptions(), and the parse reads it up to its first zero byte; a failure goes to `error`
// when one is given. Throws only std::bad_alloc.
std::string GetReplyField(const std::string& body, const char* name, MarkupError* error = nullptr);

// The "value" attributes of the first `limit` direct children whose "name" equals `name`, in document
// order, read as GetReplyField reads the first: the same parse, and a matching child without "value"
// gives an empty entry of its own. Later matches are passed over; a parse that fails anywhere gives
// none at all. Throws only std::bad_alloc.
std::vector<std::string> GetReplyFields(const std::string& body, const char* name, size_t limit,
                                        MarkupError* error = nullptr);

}  // namespace tamsel::markup
