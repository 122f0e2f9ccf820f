// Reading one named value out of a service reply body.
#pragma once

#include "markup/MarkupElement.h"

#include <string>

namespace tamsel::markup {

// The "value" attribute of the first direct child of the body's top element whose "name" attribute
// equals `name` exactly, or empty: for a missing field, a field without "value", an unreadable body
// and a genuinely empty value alike. The body loses its first comment before it is parsed with
// DefaultMarkupOptions(), and the parse reads it up to its first zero byte; a failure goes to `error`
// when one is given. Throws only std::bad_alloc.
std::string GetReplyField(const std::string& body, const char* name, MarkupError* error = nullptr);

}  // namespace tamsel::markup
