// Taking an absolute URL apart once, without any platform call, and the rule for a step that leaves https.
#include "web/UrlSplit.h"

#include <algorithm>

namespace tamsel::web {
namespace {

bool IsAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

// A scheme is a letter followed by letters, digits, "+", "-" or ".".
bool IsScheme(std::string_view scheme) {
    if (scheme.empty() || !IsAlpha(scheme[0])) return false;
    return std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

// Service and default port (0: none) of a scheme.
std::pair<ServiceKind, uint16_t> ServiceOf(std::string_view scheme) {
    if (EqualsNoCase(scheme, "http")) return {SERVICE_HTTP, 80};
    if (EqualsNoCase(scheme, "https")) return {SERVICE_HTTPS, 443};
    if (EqualsNoCase(scheme, "ftp")) return {SERVICE_FTP, 21};
    return {SERVICE_NONE, 0};
}

// Decimal 1..65535; an empty text gives the default. nullopt when it is anything else.
std::optional<uint16_t> ParsePort(std::string_view text, uint16_t defaultPort) {
    if (text.empty()) return defaultPort;
    uint32_t value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    if (value == 0) return std::nullopt;
    return static_cast<uint16_t>(value);
}

// Splits "host[:port]" or "[literal][:port]" into host and port text.
bool SplitHostPort(std::string_view hostPort, std::string_view& host, std::string_view& port) {
    size_t hostEnd = 0;
    if (!hostPort.empty() && hostPort[0] == '[') {
        size_t close = hostPort.find(']');
        if (close == std::string_view::npos || close == 1) return false;
        hostEnd = close + 1;
        if (hostEnd < hostPort.size() && hostPort[hostEnd] != ':') return false;
    } else {
        hostEnd = std::min(hostPort.find(':'), hostPort.size());
    }
    host = hostPort.substr(0, hostEnd);
    port = hostEnd < hostPort.size() ? hostPort.substr(hostEnd + 1) : std::string_view();
    return !host.empty();
}

// Where the authority starts (just after "://") and how long it is; nullopt without "://" after the
// first ":". The user info runs up to the authority's last "@".
std::optional<std::pair<size_t, size_t>> FindAuthority(std::string_view url) {
    const size_t colon = url.find(':');
    if (colon == std::string_view::npos || url.substr(colon, 3) != "://") return std::nullopt;
    const size_t start = colon + 3;
    return std::make_pair(start, std::min(url.find_first_of("/?#", start), url.size()) - start);
}

}  // namespace

bool HasControlCharacter(std::string_view text) noexcept {
    return std::any_of(text.begin(), text.end(), IsControl);
}

std::string WithoutUserInfo(std::string_view url) {
    std::string kept(url);
    const auto authority = FindAuthority(url);
    if (!authority) return kept;
    const size_t at = url.substr(authority->first, authority->second).rfind('@');
    if (at != std::string_view::npos) kept.erase(authority->first, at + 1);
    return kept;
}

Url TakeApart(std::string_view text) {
    return Url{std::string(text), WithoutUserInfo(text), SplitUrl(text)};
}

bool LeavesHttps(ServiceKind from, ServiceKind to) noexcept {
    return from == SERVICE_HTTPS && to != SERVICE_HTTPS;
}

std::optional<UrlParts> SplitUrl(std::string_view url) {
    if (HasControlCharacter(url)) return std::nullopt;
    const auto authorityAt = FindAuthority(url);
    if (!authorityAt) return std::nullopt;
    std::string_view scheme = url.substr(0, authorityAt->first - 3);
    if (!IsScheme(scheme)) return std::nullopt;

    std::string_view rest = url.substr(authorityAt->first);
    size_t authorityEnd = authorityAt->second;
    std::string_view authority = rest.substr(0, authorityEnd);
    size_t at = authority.rfind('@');
    if (at != std::string_view::npos) authority.remove_prefix(at + 1);

    std::string_view host;
    std::string_view portText;
    if (!SplitHostPort(authority, host, portText)) return std::nullopt;
    auto [service, defaultPort] = ServiceOf(scheme);
    std::optional<uint16_t> port = ParsePort(portText, defaultPort);
    if (!port || *port == 0) return std::nullopt;

    std::string_view object = rest.substr(authorityEnd);
    object = object.substr(0, std::min(object.find('#'), object.size()));
    UrlParts parts;
    parts.service = service;
    parts.server.assign(host);
    parts.port = *port;
    parts.objectPath = (object.empty() || object[0] != '/') ? "/" : "";
    parts.objectPath.append(object);
    return parts;
}

}  // namespace tamsel::web
