// The yardsticks: the same transfers and service requests made with plain WinINet calls, no agent.
#pragma once

#include <cstdint>
#include <string>

namespace tamsel::bench {

// InternetOpenUrlA and InternetReadFile into a buffer of readSize bytes, each read written to path.
// Returns the bytes stored, or -1 when the URL could not be opened or a read or write failed.
int64_t RawDownload(const char* url, const char* path, uint32_t readSize);

// InternetConnectA to an ftp URL's host, FtpOpenFileA and the same loop with 64 KiB reads into path.
int64_t RawFtpDownload(const char* url, const char* path);

// A header-only look as the agent makes it, timed in two parts: opening the URL (request sent,
// headers read) and closing the request whose body was never read.
struct LookTimes {
    double openMs = 0;
    double closeMs = 0;
    std::string location;
};
LookTimes RawLook(const char* url);

// What one QueryDownload asks, made directly: the probe's status look, the service URL's Location
// look and the multipart POST of the code. Returns the POST's reply text (empty on failure) and
// the milliseconds of each of the three.
struct QueryTimes {
    double probeMs = 0;
    double lookMs = 0;
    double postMs = 0;
};
std::string RawQuery(const char* probeUrl, const char* serviceUrl, const char* code, QueryTimes& times);

}  // namespace tamsel::bench
