// Test helpers: a one-line picture of an element tree, and checks of its back links.
#pragma once

#include <string>

#include "markup/MarkupElement.h"

namespace tamsel::markup::test {

// name[attr=value,...]"text"{child,...}; empty parts are left out.
inline std::string Dump(const MarkupElement& element) {
    std::string out = element.name;
    for (int i = 0; i < element.AttributeCount(); ++i) {
        const MarkupAttribute& attribute = *element.AttributeAt(i);
        out += (i == 0 ? "[" : ",") + attribute.name + "=" + attribute.value;
    }
    if (element.AttributeCount() > 0) out += "]";
    if (!element.text.empty()) out += "\"" + element.text + "\"";
    for (int i = 0; i < element.ChildCount(); ++i) out += (i == 0 ? "{" : ",") + Dump(*element.ChildAt(i));
    if (element.ChildCount() > 0) out += "}";
    return out;
}

// True when every child names its owner as parent and every attribute names its element as owner.
inline bool LinksHold(const MarkupElement& element) {
    for (int i = 0; i < element.AttributeCount(); ++i) {
        if (element.AttributeAt(i)->owner != &element) return false;
    }
    for (int i = 0; i < element.ChildCount(); ++i) {
        const MarkupElement& child = *element.ChildAt(i);
        if (child.Parent() != &element || !LinksHold(child)) return false;
    }
    return true;
}

// The component's settings, with a failure record that the parses of a test are handed.
struct LocalOptions : MarkupOptions {
    LocalOptions() : MarkupOptions(DefaultMarkupOptions()) {}
    MarkupError error;
};

}  // namespace tamsel::markup::test
