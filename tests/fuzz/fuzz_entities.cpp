// Fuzzes escape removal and entity decoding against facts that must hold for every input.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "markup/Entities.h"
#include "markup/MarkupElement.h"

using namespace tamsel::markup;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::string Encode(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string Escape(const std::string& text, bool everyCharacter) {
    std::string out;
    for (char c : text) {
        if (everyCharacter || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

std::string Unescaped(const std::string& text) {
    return RemoveEscapes(text.data(), text.data() + text.size(), '\\');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string line = text.c_str();  // decoding reads zero-terminated text
    const EntityTable& table = DefaultEntityTable();

    const std::string decoded = DecodeEntities(table, line.c_str());
    Check(decoded.size() <= line.size());
    Check(line.find('&') != std::string::npos || decoded == line);
    Check(DecodeEntities(table, Encode(line).c_str()) == line);  // decoding undoes encoding

    const std::string unescaped = Unescaped(text);
    Check(unescaped.size() <= text.size());
    Check(text.find('\\') != std::string::npos || unescaped == text);
    Check(Unescaped(Escape(text, true)) == text);
    Check(Unescaped(Escape(text, false)) == text);

    // Value processing without trimming is escape removal followed by decoding.
    if (!line.empty()) {
        const MarkupOptions options{false, true, &table, '\\'};
        std::string target;
        CopyRange(line.data(), line.data() + line.size(), target, options);
        Check(target == DecodeEntities(table, Unescaped(line).c_str()));
    }
    return 0;
}
