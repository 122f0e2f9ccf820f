// What an exchange is asked and gives back: a download's ask and how it went, and a POST's reply triple.
#pragma once

#include "web/BodyConsumer.h"
#include "web/ProxyCredentials.h"

#include <cstdint>
#include <string>

namespace tamsel::web {

// How a download asks, beyond its URL.
struct DownloadAsk {
    // https: a certificate for another host name, out of date or from an unknown authority ends the
    // exchange at once (certificateRefused), without a dialog, and a redirect from https to anything
    // else is refused (insecureRedirect). Otherwise such names and dates pass, an unknown authority may
    // be accepted by the user, and redirects go wherever http or https leads.
    bool strictTls = false;
    // Above 0: the rest of the file from there, if the file is still the one ifRange names (http:
    // Range and If-Range; ftp: REST, when the server still gives that validator).
    uint64_t resumeFrom = 0;
    std::string ifRange;
    // Above resumeFrom: only the bytes before this offset (a slice: "Range: bytes=first-last"); 0: to the end.
    uint64_t rangeEnd = 0;
    // ftp: the reply is to carry a validator that a later resume can rely on (SIZE and MDTM, asked of the
    // server); with digestProvesWhole, the listing's size and time do when the server answers no MDTM
    // (its time goes down to the minute at best, so a file replaced within it would pass: only a
    // digest of the whole file catches the splice).
    bool wantsValidator = false;
    bool digestProvesWhole = false;
    // A proxy's challenge is answered with these (null or empty: the platform's own credentials).
    const ProxyCredentials* proxy = nullptr;
    // The whole file's expected length (-1: any). A body that would make the file longer stops there:
    // the transfer ends TooLong, nothing past that length stored or reported.
    int64_t expectedSize = -1;
    // http and https: redirects are followed (up to MAX_REDIRECTS). False: the first reply is the answer,
    // redirect or not, as when the download's own request is also its Location look.
    bool followRedirects = true;
    // The body's stall bound, end and rate for this download alone.
    BodyPace pace;
};

struct WebReply {
    int32_t status = 0;   // 0 when the exchange could not be made
    std::string headers;  // the raw header block
    std::string body;     // the text up to the first zero byte of the read it arrived in
};

// A download's body went to its consumer; this is the rest of its story.
struct DownloadResult {
    int32_t status = 0;  // 0 when the exchange could not be made; 200 for an opened FTP file
    TransferEnd end = TransferEnd::NoExchange;
    bool certificateRefused = false;  // no exchange because the server's certificate was refused
    bool insecureRedirect = false;    // no download because strict TLS refused a redirect that left https
    bool urlRefused = false;          // no download: the Location the first reply named cannot be parsed
    // NoExchange: the platform's error of the send that failed (ERROR_INTERNET_CANNOT_CONNECT,
    // ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_CONNECTION_RESET, ERROR_INTERNET_TIMEOUT, ...);
    // 0 when none was given (a connection closed without a status line).
    uint32_t exchangeError = 0;
};

}  // namespace tamsel::web
