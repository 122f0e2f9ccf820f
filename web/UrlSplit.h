// Taking an absolute URL apart once, without any platform call, and the rule for a step that leaves https.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamsel::web {

// The exchange code treats every value other than these three known ones as no service.
enum ServiceKind : int32_t {
    SERVICE_NONE = 0,
    SERVICE_HTTP = 1,
    SERVICE_HTTPS = 2,
    SERVICE_FTP = 3,
};

// The one form of a URL that a request holds and a redirect produces.
struct UrlParts {
    ServiceKind service = SERVICE_NONE;  // SERVICE_NONE: a scheme other than http, https and ftp
    std::string server;
    uint16_t port = 0;       // never 0 in a successful split
    std::string objectPath;  // path, with its query as split (a request keeps the path alone); starts with "/"
};

// Splits "scheme://[user[:password]@]host[:port][/path][?query][#fragment]".
// - The scheme is matched without regard to case; http, https and ftp default to 80, 443 and 21.
//   Any other scheme must name its port, since there is no default to fall back on.
// - user:password@ is recognised (up to the last "@" of the authority) and dropped: requests are
//   made with their own credentials, never with ones taken from the URL.
// - A "#fragment" ends the object and is dropped; it is never sent to a server.
// - An empty port (":" with nothing after it) means the default; "host:0", a port above 65535 or
//   any non-digit in the port fails.
// - "[...]" around the host (IPv6 literals) is kept as written, so its colons are not a port.
// - Control characters (below 0x20, and 0x7F) anywhere in the URL fail: passed on, a CR or LF
//   in the host or path would split the request line and inject headers.
// Nothing is decoded or escaped. Fails (nullopt) on anything it cannot take apart.
std::optional<UrlParts> SplitUrl(std::string_view url);

// A URL as given, taken apart once: whoever needs its parts is handed them, never the text to split again.
struct Url {
    std::string text;               // exactly as given
    std::string address;            // text less its "user[:password]@" (WithoutUserInfo): what a look opens
    std::optional<UrlParts> parts;  // SplitUrl's; nothing when it cannot take the URL apart
};
Url TakeApart(std::string_view text);

// Whether a step from a URL of service `from` to one of service `to` leaves https: under strict TLS the
// Location look and every redirect followed refuse such a step. A Location that cannot be taken apart
// counts as SERVICE_NONE, and so leaves.
bool LeavesHttps(ServiceKind from, ServiceKind to) noexcept;

// Whether text holds a control character (below 0x20, or 0x7F): in a URL, a form field or a header
// value a CR or LF would add header lines, fields or a whole second request.
bool HasControlCharacter(std::string_view text) noexcept;

// url with its "user[:password]@" dropped, as SplitUrl drops it; everything else exactly as given.
// Handed to the platform whole, such a URL makes it answer a challenge with those credentials and keep
// them for every later request to that host in the process.
std::string WithoutUserInfo(std::string_view url);

}  // namespace tamsel::web
