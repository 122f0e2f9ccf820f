// The contract a host compiles against: the agent's interfaces, the progress sink, result codes and identifiers.
//
// Needs only the Windows SDK (or mingw-w64) headers. Every identifier is a constant in this header and
// every interface carries its uuid, so a host can use CLSID_nvTamselAgent, IID_InvTamselAgentOps or
// __uuidof(InvTamselAgentOps) from a single source file without linking anything of ours. Compiled as C
// (or with CINTERFACE) it declares the interfaces as lpVtbl structures, for C hosts and bindings.
#ifndef NORVIK_TAMSEL_AGENT_H
#define NORVIK_TAMSEL_AGENT_H

#include <windows.h>
#include <unknwn.h>
#include <oaidl.h>

// Result codes of the agent (facility ITF, and one platform code). Beside them the agent answers S_OK,
// E_INVALIDARG and E_FAIL, and every network operation of every interface (the automation members too)
// may answer two platform codes for a call it stopped where it was:
// - E_OUTOFMEMORY 0x8007000E: memory ran out inside the call. Nothing is reported as done; a download
//   leaves its file as a broken one (E_FAIL) does. Free memory or give up; a later call may succeed.
// - E_UNEXPECTED 0x8000FFFF: the component met a fault of its own, an error it has no code for (no
//   known input leads there). Report it with the call's arguments; calling again may succeed, but do
//   not retry in a loop.
#define AGENT_E_NO_SESSION        ((HRESULT)0x80042EFFL)  // the connectivity probe did not see status 200
#define AGENT_E_BUFFER_TOO_SMALL  ((HRESULT)0x80042F00L)  // a text result does not fit with its terminating zero
#define AGENT_E_HTTP_STATUS       ((HRESULT)0x80042F01L)  // the exchange answered a status other than 200
#define AGENT_E_SERVICE_STATUS    ((HRESULT)0x80042F02L)  // the service's StatusCode was not accepted
// HRESULT_FROM_WIN32(ERROR_BUSY): a network operation was called on an object whose network operation
// is still running (from its progress sink, or from another thread); nothing was sent or changed.
#define AGENT_E_BUSY              ((HRESULT)0x800700AAL)

// Result codes of FetchToFileEx (InvTamselAgentOps2) beside the ones above and E_ABORT (a cancel).
#define AGENT_E_SIZE_MISMATCH     ((HRESULT)0x80042F03L)  // the length announced or received is not the one expected
#define AGENT_E_CERTIFICATE       ((HRESULT)0x80042F04L)  // strict TLS refused the server's certificate
// Strict TLS refused a redirect from https to a URL that is not https (at the Location look or at any
// hop of the download); nothing was fetched in clear and no file was touched. Retrying without strict
// TLS would fetch the file unencrypted: a host should report the URL to whoever gave it out instead.
#define AGENT_E_INSECURE_REDIRECT ((HRESULT)0x80042F07L)
// A proxy asked for credentials (HTTP 407, kept for GetLastHttpStatus) that the component does not have,
// or refused those it gave, at the connectivity probe or at any request. Answered by FetchToFileEx,
// QueryDownloadEx, FetchToFileVerified and the automation face, where the first interface answers
// AGENT_E_NO_SESSION (at the probe) or AGENT_E_HTTP_STATUS. Retrying will not help: have the user set
// the proxy's credentials for the system (or correct them), then call again.
#define AGENT_E_PROXY_AUTH        ((HRESULT)0x80042F09L)

// Result codes of FetchToFileVerified (InvTamselAgentOps3). A failure never touches the target.
// The bytes' SHA-256 is not the one asked for: the partial file and its record are removed, so that
// nothing builds on them. Do not resume; ask the service again later, or give up.
#define AGENT_E_DIGEST_MISMATCH   ((HRESULT)0x80042F05L)
// The transfer broke off or stalled: call again with TAMSEL_FETCH_RESUME, which goes on from there.
#define AGENT_E_BROKEN            ((HRESULT)0x80042F06L)
// Beside them, FetchToFileVerified answers, where FetchToFile and FetchToFileEx answer E_FAIL:
// - the platform's own code when the local file could not be written or put in place: disk full
//   HRESULT_FROM_WIN32(ERROR_DISK_FULL) 0x80070070 (free space, then resume); E_ACCESSDENIED
//   0x80070005, also for a read-only target or one open elsewhere (another place, or ask the user to
//   close it); HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION) 0x80070020, the partial file in use by
//   another download of the same target (wait, then retry); HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
//   0x80070003 (create the folder). A failed final rename leaves no partial file unless RESUME was asked.
// And as FetchToFileEx: AGENT_E_HTTP_STATUS, the server refused the file (GetLastHttpStatus; ask the
// service again later); AGENT_E_SIZE_MISMATCH, other bytes than the service named (as for a digest
// mismatch); AGENT_E_CERTIFICATE, the server could not prove who it is (do not retry on this network);
// E_ABORT, the sink cancelled (with RESUME a later call goes on from what arrived).

// Result codes of FetchToFileResilient (InvTamselAgentOps4), beside every code of FetchToFileVerified
// (each now the end of the whole call: the last attempt's result, once the rules below gave up):
// The server asked (Retry-After) to be asked again later than the policy lets the call wait
// (maxRetryWaitMs, or what the deadline leaves), and no other source remained to try. The file is left
// as a broken download leaves it (with RESUME the partial file stays). TAMSEL_DOWNLOAD_INFO.retryAfterMs
// says how long the server asked for: schedule the download again no sooner, and report the download's
// outcome to the service (ReportDownloadEx) in the meantime if the host reports failures.
#define AGENT_E_RETRY_LATER       ((HRESULT)0x80042F08L)
// What a host does with the other codes of FetchToFileResilient, once the call has retried what may be
// retried: AGENT_E_BROKEN, every attempt broke off or stalled (or the deadline ended the transfer):
// call again later with TAMSEL_FETCH_RESUME; AGENT_E_HTTP_STATUS, the last source answered a status
// (GetLastHttpStatus: 0 when no connection could be made) after the attempts ran out or every source
// refused: ask the service again later; AGENT_E_DIGEST_MISMATCH and AGENT_E_SIZE_MISMATCH, every source
// served other bytes: ask the service again, do not resume; AGENT_E_CERTIFICATE and
// AGENT_E_INSECURE_REDIRECT, every source was refused for its TLS: report the sources; the platform's
// local codes (disk full before the first byte or during the transfer, access denied, sharing
// violation, path not found): never retried, act on them as for FetchToFileVerified; E_ABORT, the
// sink cancelled (during a transfer or a wait); AGENT_E_NO_SESSION, AGENT_E_PROXY_AUTH, AGENT_E_BUSY
// and E_INVALIDARG as for FetchToFileVerified.

// Flags of FetchToFileEx; any other bit is refused with E_INVALIDARG before anything is sent.
#define TAMSEL_FETCH_REPLACE_SAFELY 0x1  // body into a partial file beside the target, replaced only when whole
#define TAMSEL_FETCH_RESUME         0x2  // continue a partial file of an earlier attempt (implies 0x1)
#define TAMSEL_FETCH_STRICT_TLS     0x4  // https: no wrong host names, no out-of-date certificates, no dialog,
                                         // no redirect away from https

// The code that NotifyCode receives before every NotifyProgress.
#define TAMSEL_PROGRESS_CODE 5913

// The fixed dispatch ids of InvTamselAgent2 (OnProgress: get, put and putref) and of the event
// interface _InvTamselAgentEvents.
#define DISPID_TAMSEL_LOOKUPREDIRECT    1
#define DISPID_TAMSEL_QUERYDOWNLOAD     2
#define DISPID_TAMSEL_DOWNLOAD          3
#define DISPID_TAMSEL_REPORTDOWNLOAD    4
#define DISPID_TAMSEL_LASTFILESIZE      5
#define DISPID_TAMSEL_LASTSHA256        6
#define DISPID_TAMSEL_LASTHTTPSTATUS    7
#define DISPID_TAMSEL_LASTSERVICESTATUS 8
#define DISPID_TAMSEL_ONPROGRESS        9
#define DISPID_TAMSEL_VERSION           10
#define DISPID_TAMSEL_EVENT_PROGRESS    1
// The fixed dispatch ids of InvTamselAgent3's own members (the properties: get and put; ProxyPassword: put
// only) and of the event that InvTamselAgent3's DownloadFrom adds.
#define DISPID_TAMSEL_DOWNLOADFROM        11
#define DISPID_TAMSEL_MAXATTEMPTS         12
#define DISPID_TAMSEL_MAXRETRYWAIT        13
#define DISPID_TAMSEL_DEADLINE            14
#define DISPID_TAMSEL_MAXBYTESPERSECOND   15
#define DISPID_TAMSEL_CONNECTIONS         16
#define DISPID_TAMSEL_LASTSOURCES         17
#define DISPID_TAMSEL_LASTATTEMPTS        18
#define DISPID_TAMSEL_LASTSOURCEINDEX     19
#define DISPID_TAMSEL_LASTBYTESRESUMED    20
#define DISPID_TAMSEL_LASTATTEMPTRESULT   21
#define DISPID_TAMSEL_LASTRETRYAFTER      22
#define DISPID_TAMSEL_REPORTDOWNLOADEX    23
#define DISPID_TAMSEL_PROXYUSER           24
#define DISPID_TAMSEL_PROXYPASSWORD       25
#define DISPID_TAMSEL_EVENT_RETRYING      2

// What FetchToFileResilient may do. cbSize is sizeof(TAMSEL_DOWNLOAD_POLICY) of this header; a later
// version only grows at its end, and a size the agent does not know is E_INVALIDARG. A null policy is
// every field 0: the defaults.
typedef struct TAMSEL_DOWNLOAD_POLICY {
    ULONG cbSize;
    ULONG maxAttempts;        // attempts over all sources, 1..32; 0: 5 (above 32: E_INVALIDARG)
    ULONG maxRetryWaitMs;     // the longest single wait (backoff or Retry-After), ms; 0: 60000
    ULONG deadlineMs;         // the whole call, ms; 0: none. A transfer still running then stops there as
                              // a stall would (AGENT_E_BROKEN; with RESUME the partial file stays)
    ULONG stallMs;            // a transfer gaining fewer than 4 KiB in this many ms has stalled; 0: 60000
    ULONG maxBytesPerSecond;  // the transfer's average rate cap; 0: none
    ULONG connections;        // at most this many at once to one source, 0..4 (0 and 1: one; see the README)
} TAMSEL_DOWNLOAD_POLICY;

// What FetchToFileResilient did, filled whatever its result but AGENT_E_BUSY, which changes nothing (when
// the pointer is not null and cbSize is known: the caller sets cbSize to sizeof(TAMSEL_DOWNLOAD_INFO) of
// this header); a call refused before anything was sent fills it with zeros. Later versions only
// grow at the end; a size the agent does not know is E_INVALIDARG, nothing written.
typedef struct TAMSEL_DOWNLOAD_INFO {
    ULONG cbSize;
    ULONG attempts;               // attempts made, 0..32
    ULONG sourceIndex;            // the source of the last attempt (0: the first; 0..31)
    ULONG waitedMs;               // the time spent waiting between attempts, ms
    LONGLONG bytesReceived;       // body bytes received over all attempts
    LONGLONG bytesResumed;        // bytes of an earlier call's partial file kept at the start; 0: started fresh
    HRESULT lastAttemptResult;    // why the last attempt ended (S_OK when it delivered the file); a connection
                                  // that could not be made is the platform's code for it
                                  // (HRESULT_FROM_WIN32(ERROR_INTERNET_CANNOT_CONNECT), ...)
    LONG lastHttpStatus;          // the last attempt's HTTP status; 0: none came
    ULONG retryAfterMs;           // what the server last asked to wait (Retry-After), ms; 0: never asked
    ULONG connections;            // the most connections open at once for the file
} TAMSEL_DOWNLOAD_INFO;

#define NORVIK_TAMSEL_AGENT_PROGID   "NorvikTamselAgent.nvTamselAgent"
#define NORVIK_TAMSEL_AGENT_PROGID_1 "NorvikTamselAgent.nvTamselAgent.1"

// Every identifier of the component once: its type's name, its constant's name and its value.
#define TAMSEL_IDENTIFIERS(X)                                                                                 \
    X(nvTamselAgent, CLSID_nvTamselAgent, 0x5AFB664D, 0x72FD, 0x41B8, 0xAC, 0xA5, 0x59, 0x7D, 0x9C, 0xC2, 0x14, 0x24)   \
    X(InvTamselAgentOps, IID_InvTamselAgentOps, 0xC0478D57, 0x9E5E, 0x4587, 0x8E, 0x58, 0x2E, 0x06, 0x03, 0xD6, 0xFB, \
      0x43)                                                                                                   \
    X(InvTamselAgentOps2, IID_InvTamselAgentOps2, 0x7DBA49E8, 0xB9A4, 0x46B8, 0x83, 0xBF, 0xB9, 0xEE, 0x24, 0x47,     \
      0x68, 0x57)                                                                                             \
    X(InvTamselAgentOps3, IID_InvTamselAgentOps3, 0xD4CEF1F4, 0x1363, 0x4B61, 0xAA, 0xCA, 0x2F, 0xAC, 0x79, 0x70,     \
      0x83, 0xA7)                                                                                             \
    X(InvTamselAgent, IID_InvTamselAgent, 0xA2766F83, 0xCCDE, 0x40C1, 0x96, 0x12, 0xC1, 0xD9, 0x5C, 0x6D, 0x95, 0x85) \
    X(InvTamselAgent2, IID_InvTamselAgent2, 0xD1558FFD, 0x2CCD, 0x4C66, 0x93, 0xE7, 0x4F, 0x3E, 0xEC, 0x7E, 0xB3,    \
      0xB6)                                                                                                   \
    X(_InvTamselAgentEvents, DIID__InvTamselAgentEvents, 0xBF136510, 0x2C7E, 0x41D3, 0xA7, 0xCB, 0xC3, 0x74, 0x93,  \
      0x0D, 0x0E, 0x1F)                                                                                       \
    X(ProgressSink, IID_ProgressSink, 0x641C58E6, 0x250F, 0x43C3, 0x87, 0xA5, 0x76, 0x18, 0xED, 0x18, 0x9A, 0x58)     \
    X(ProgressSink2, IID_ProgressSink2, 0xB70EF003, 0x11F2, 0x4CA6, 0xA8, 0x87, 0x8F, 0xE3, 0xA4, 0x8F, 0x87, 0xE1)   \
    X(InvTamselAgentOps4, IID_InvTamselAgentOps4, 0x1AF71089, 0x17E1, 0x4B2A, 0xBD, 0x43, 0xE3, 0xF1, 0xFE, 0x2B,     \
      0xCF, 0x3A)                                                                                             \
    X(InvTamselAgent3, IID_InvTamselAgent3, 0x094E11D5, 0x6442, 0x4472, 0xB5, 0x8A, 0xC1, 0xAF, 0xA0, 0x7C, 0x9A,    \
      0x76)                                                                                                   \
    X(ProgressSink3, IID_ProgressSink3, 0x93635F87, 0x7BDD, 0x4C43, 0xB6, 0x00, 0x5A, 0xDB, 0xBF, 0xE6, 0x8F, 0x72)   \
    X(NORVIKTAMSELAGENTLib, LIBID_NORVIKTAMSELAGENTLib, 0xD86D7702, 0x0FB0, 0x4A4C, 0x89, 0x06, 0xD5, 0xC5, 0x08,    \
      0x85, 0x4F, 0x2C)

#if defined(__cplusplus) && !defined(CINTERFACE)

// Progress callback a host may pass to FetchToFile. NotifyCode(TAMSEL_PROGRESS_CODE) comes right
// before every NotifyProgress; the agent sets *cancel to 0 before each NotifyProgress, and a non-zero
// value written by the sink stops the download (the bytes received so far are kept). Return values are
// ignored.
struct DECLSPEC_UUID("641C58E6-250F-43C3-87A5-7618ED189A58") ProgressSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) = 0;
};

// A sink that also wants bytes: FetchToFileEx asks the host's sink for it with QueryInterface and calls
// NotifyBytes after every block written, with the bytes of the file so far and its whole length (-1
// when none was announced). A non-zero *cancel stops the download at that block.
struct DECLSPEC_UUID("B70EF003-11F2-4CA6-A887-8FE3A48F87E1") ProgressSink2 : public ProgressSink {
    virtual HRESULT STDMETHODCALLTYPE NotifyBytes(LONGLONG received, LONGLONG total, LONG* cancel) = 0;
};

// A sink that also hears retries: FetchToFileResilient asks the host's sink for it with QueryInterface
// and calls NotifyRetry before each retry's wait (waitMs 0 when none): attempt is the number of the
// attempt about to start (2 for the first retry), sourceIndex the source it will use (0: the first),
// reason why the last attempt failed, as FetchToFileResilient would answer it. A failure returned
// cancels the download (E_ABORT). During a wait the agent keeps calling NotifyBytes (unchanged counts;
// for a sink that is no ProgressSink2, NotifyProgress) at least twice a second, so that a cancel set
// there ends a wait within a second.
struct DECLSPEC_UUID("93635F87-7BDD-4C43-B600-5ADBBFE68F72") ProgressSink3 : public ProgressSink2 {
    virtual HRESULT STDMETHODCALLTYPE NotifyRetry(ULONG attempt, ULONG waitMs, HRESULT reason, ULONG sourceIndex) = 0;
};

// The six operations. Strings are zero-terminated 8-bit text; buffers and outputs belong to the caller
// and output pointers must be valid. A text result is written only when its size with the terminating
// zero fits the stated buffer size; otherwise the buffer is left as it was.
struct DECLSPEC_UUID("C0478D57-9E5E-4587-8E58-2E0603D6FB43") InvTamselAgentOps : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                                     const char* serial, const char* language,
                                                     const char* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDownload(char* downloadUrl, ULONG downloadUrlSize,
                                                    const char* serviceUrl, const char* code,
                                                    LONGLONG* fileSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE FetchToFile(const char* url, const char* path, ProgressSink* progress) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                                     LONG* remaining) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLastHttpStatus(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLastServiceStatus(LONG* status) = 0;
};

// The six operations in their slots, and a download for what downloads meet in the field: a UTF-16
// path of any length, safe replacement, resume, an expected size, strict TLS and byte progress.
// expectedSize -1 checks nothing. A cancel returns E_ABORT.
struct DECLSPEC_UUID("7DBA49E8-B9A4-46B8-83BF-B9EE24476857") InvTamselAgentOps2 : public InvTamselAgentOps {
    virtual HRESULT STDMETHODCALLTYPE FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress,
                                                    ULONG flags, LONGLONG expectedSize) = 0;
};

// The seven operations in their slots, and a download that proves its bytes: the service names the
// file's SHA-256 with its URL (QueryDownloadEx), and FetchToFileVerified hashes the bytes as they are
// written and puts the file in the target's place only when the digest matches.
struct DECLSPEC_UUID("D4CEF1F4-1363-4B61-AACA-2FAC797083A7") InvTamselAgentOps3 : public InvTamselAgentOps2 {
    // QueryDownload, and the digest the reply names as 64 lowercase hex digits with a terminating zero
    // (empty when it names none; one that is not 64 hex digits is AGENT_E_SERVICE_STATUS with service
    // status 0). When either text does not fit its buffer, neither is written: AGENT_E_BUFFER_TOO_SMALL.
    virtual HRESULT STDMETHODCALLTYPE QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize,
                                                      const char* serviceUrl, const char* code,
                                                      LONGLONG* fileSize, char* sha256, ULONG sha256Size) = 0;
    // FetchToFileEx with TAMSEL_FETCH_REPLACE_SAFELY always on. sha256: 64 hex digits in either case,
    // or null or empty for no check (anything else is E_INVALIDARG before anything is sent). Results:
    // see AGENT_E_DIGEST_MISMATCH above.
    virtual HRESULT STDMETHODCALLTYPE FetchToFileVerified(const char* url, const wchar_t* path,
                                                          ProgressSink* progress, ULONG flags,
                                                          LONGLONG expectedSize, const char* sha256) = 0;
};

// The nine operations in their slots, and downloads that finish by themselves: several sources, retries
// with resume inside one call under a policy, and an outcome the host and the service can read.
struct DECLSPEC_UUID("1AF71089-17E1-4B2A-BD43-E3F1FE2BCF3A") InvTamselAgentOps4 : public InvTamselAgentOps3 {
    // QueryDownloadEx whose first output is a list of sources: the download URL and then each mirror the
    // reply names (up to 8), each ending in a zero, the list in one more zero. When the list or the digest
    // does not fit its buffer, neither is written: AGENT_E_BUFFER_TOO_SMALL.
    virtual HRESULT STDMETHODCALLTYPE QueryDownloadSources(char* sources, ULONG sourcesSize, const char* serviceUrl,
                                                           const char* code, LONGLONG* fileSize, char* sha256,
                                                           ULONG sha256Size) = 0;
    // FetchToFileVerified over sources (a list as QueryDownloadSources writes it, 1..32 URLs; one URL with
    // its two zeros will do), retrying under policy (null: the defaults) as the README's rules say, and
    // filling info (may be null) whatever the result. Results: see AGENT_E_RETRY_LATER above.
    virtual HRESULT STDMETHODCALLTYPE FetchToFileResilient(const char* sources, const wchar_t* path,
                                                           ProgressSink* progress, ULONG flags, LONGLONG expectedSize,
                                                           const char* sha256, const TAMSEL_DOWNLOAD_POLICY* policy,
                                                           TAMSEL_DOWNLOAD_INFO* info) = 0;
    // ReportDownload, telling the service also what info says (null: nothing more than ReportDownload):
    // attempts, the source that delivered the file, the download call's final result (the one this object
    // answered for the info it filled last; for an info it did not fill, its lastAttemptResult), the
    // bytes resumed and the time waited. An info of a size the agent does not know is E_INVALIDARG.
    virtual HRESULT STDMETHODCALLTYPE ReportDownloadEx(const char* serviceUrl, const char* code, LONG success,
                                                       const TAMSEL_DOWNLOAD_INFO* info, LONG* remaining) = 0;
    // Credentials the object's later requests answer a proxy's challenge with (in place of the system's):
    // held in memory only, wiped when replaced, cleared (a null or empty user) or the object ends, never
    // sent to an origin server. A user holding ':' is E_INVALIDARG; while a download runs, AGENT_E_BUSY.
    virtual HRESULT STDMETHODCALLTYPE SetProxyCredentials(const wchar_t* user, const wchar_t* password) = 0;
};

// The dual dispatch interface of version 1.0; it declares no members of its own.
struct DECLSPEC_UUID("A2766F83-CCDE-40C1-9612-C1D95C6D9585") InvTamselAgent : public IDispatch {};

// The automation interface (dual; the class's default): what scripts, macros and .NET call. Strings
// other than the path must be ASCII. Sizes are doubles. A failure sets error information (IErrorInfo)
// with a sentence naming what failed. expectedSize: VT_ERROR (missing) or VT_EMPTY means -1.
struct DECLSPEC_UUID("D1558FFD-2CCD-4C66-93E7-4F3EEC7EB3B6") InvTamselAgent2 : public InvTamselAgent {
    virtual HRESULT STDMETHODCALLTYPE LookupRedirect(BSTR lookupUrl, BSTR serial, BSTR language, BSTR type,
                                                     BSTR* target) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDownload(BSTR serviceUrl, BSTR code, BSTR* downloadUrl) = 0;
    virtual HRESULT STDMETHODCALLTYPE Download(BSTR url, BSTR path, LONG flags, VARIANT expectedSize,
                                               BSTR sha256) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportDownload(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                                     LONG* remaining) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastFileSize(double* size) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastSha256(BSTR* digest) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastHttpStatus(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastServiceStatus(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_OnProgress(IDispatch** handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_OnProgress(IDispatch* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE putref_OnProgress(IDispatch* handler) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Version(BSTR* version) = 0;
};

// The automation interface of downloads that finish by themselves (dual; the class's default since 1.3):
// InvTamselAgent2 and, after it, DownloadFrom over several sources (a VARIANT: one URL, URLs separated by
// line breaks, an array of strings or a script's array object; at most 9, none empty), the policy of
// FetchToFileResilient as properties (milliseconds; a value out of its range is E_INVALIDARG), what the
// last query and the last DownloadFrom left, ReportDownloadEx, and the proxy's credentials (the password
// written only). DownloadFrom fires Retrying(attempt, waitMs, reason, sourceIndex, cancel) before each
// retry's wait.
struct DECLSPEC_UUID("094E11D5-6442-4472-B58A-C1AFA07C9A76") InvTamselAgent3 : public InvTamselAgent2 {
    virtual HRESULT STDMETHODCALLTYPE DownloadFrom(VARIANT sources, BSTR path, LONG flags, VARIANT expectedSize,
                                                   BSTR sha256) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxAttempts(LONG* attempts) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MaxAttempts(LONG attempts) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxRetryWait(LONG* waitMs) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MaxRetryWait(LONG waitMs) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Deadline(LONG* deadlineMs) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Deadline(LONG deadlineMs) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MaxBytesPerSecond(LONG* rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MaxBytesPerSecond(LONG rate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Connections(LONG* connections) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Connections(LONG connections) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastSources(VARIANT* sources) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastAttempts(LONG* attempts) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastSourceIndex(LONG* sourceIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastBytesResumed(double* bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastAttemptResult(LONG* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_LastRetryAfter(double* waitMs) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportDownloadEx(BSTR serviceUrl, BSTR code, VARIANT_BOOL success,
                                                       LONG* remaining) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ProxyUser(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProxyUser(BSTR user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_ProxyPassword(BSTR password) = 0;
};

// The event interface (a dispinterface: sinks answer IDispatch::Invoke with DISPID_TAMSEL_EVENT_PROGRESS
// and the arguments received, total, percent, cancel in reverse order, as IDispatch passes them).
struct DECLSPEC_UUID("BF136510-2C7E-41D3-A7CB-C374930D0E1F") _InvTamselAgentEvents : public IDispatch {};

class DECLSPEC_UUID("5AFB664D-72FD-41B8-ACA5-597D9CC21424") nvTamselAgent;
struct DECLSPEC_UUID("D86D7702-0FB0-4A4C-8906-D5C508854F2C") NORVIKTAMSELAGENTLib;

#if defined(__MINGW32__)
// mingw's __uuidof reads these traits rather than the uuid attribute.
#define TAMSEL_UUID_DECL(type, constant, ...) __CRT_UUID_DECL(type, __VA_ARGS__)
TAMSEL_IDENTIFIERS(TAMSEL_UUID_DECL)
#endif

#else  // C, or C++ with CINTERFACE: the same interfaces as structures of function pointers.

typedef struct ProgressSink ProgressSink;
typedef struct ProgressSink2 ProgressSink2;
typedef struct ProgressSink3 ProgressSink3;
typedef struct InvTamselAgentOps InvTamselAgentOps;
typedef struct InvTamselAgentOps2 InvTamselAgentOps2;
typedef struct InvTamselAgentOps3 InvTamselAgentOps3;
typedef struct InvTamselAgentOps4 InvTamselAgentOps4;
typedef struct InvTamselAgent2 InvTamselAgent2;
typedef struct InvTamselAgent3 InvTamselAgent3;

// The slots of ProgressSink, which ProgressSink2 repeats before its own.
#define TAMSEL_SINK_SLOTS(Self)                                                                 \
    HRESULT (STDMETHODCALLTYPE* QueryInterface)(Self * This, REFIID riid, void** object);      \
    ULONG (STDMETHODCALLTYPE* AddRef)(Self * This);                                             \
    ULONG (STDMETHODCALLTYPE* Release)(Self * This);                                            \
    HRESULT (STDMETHODCALLTYPE* NotifyCode)(Self * This, LONG code);                            \
    HRESULT (STDMETHODCALLTYPE* NotifyProgress)(Self * This, LONG percent, LONG* cancel);

typedef struct ProgressSinkVtbl {
    BEGIN_INTERFACE
    TAMSEL_SINK_SLOTS(ProgressSink)
    END_INTERFACE
} ProgressSinkVtbl;
struct ProgressSink {
    const ProgressSinkVtbl* lpVtbl;
};

typedef struct ProgressSink2Vtbl {
    BEGIN_INTERFACE
    TAMSEL_SINK_SLOTS(ProgressSink2)
    HRESULT (STDMETHODCALLTYPE* NotifyBytes)(ProgressSink2* This, LONGLONG received, LONGLONG total, LONG* cancel);
    END_INTERFACE
} ProgressSink2Vtbl;
struct ProgressSink2 {
    const ProgressSink2Vtbl* lpVtbl;
};

typedef struct ProgressSink3Vtbl {
    BEGIN_INTERFACE
    TAMSEL_SINK_SLOTS(ProgressSink3)
    HRESULT (STDMETHODCALLTYPE* NotifyBytes)(ProgressSink3* This, LONGLONG received, LONGLONG total, LONG* cancel);
    HRESULT (STDMETHODCALLTYPE* NotifyRetry)(ProgressSink3* This, ULONG attempt, ULONG waitMs, HRESULT reason,
                                             ULONG sourceIndex);
    END_INTERFACE
} ProgressSink3Vtbl;
struct ProgressSink3 {
    const ProgressSink3Vtbl* lpVtbl;
};

// The slots of InvTamselAgentOps, which InvTamselAgentOps2 repeats before its own.
#define TAMSEL_OPS_SLOTS(Self)                                                                             \
    HRESULT (STDMETHODCALLTYPE* QueryInterface)(Self * This, REFIID riid, void** object);                 \
    ULONG (STDMETHODCALLTYPE* AddRef)(Self * This);                                                        \
    ULONG (STDMETHODCALLTYPE* Release)(Self * This);                                                       \
    HRESULT (STDMETHODCALLTYPE* LookupRedirect)(Self * This, char* target, ULONG targetSize,               \
                                                const char* lookupUrl, const char* serial,                 \
                                                const char* language, const char* type);                   \
    HRESULT (STDMETHODCALLTYPE* QueryDownload)(Self * This, char* downloadUrl, ULONG downloadUrlSize,      \
                                               const char* serviceUrl, const char* code, LONGLONG* fileSize); \
    HRESULT (STDMETHODCALLTYPE* FetchToFile)(Self * This, const char* url, const char* path,               \
                                             ProgressSink* progress);                                      \
    HRESULT (STDMETHODCALLTYPE* ReportDownload)(Self * This, const char* serviceUrl, const char* code,     \
                                                LONG success, LONG* remaining);                            \
    HRESULT (STDMETHODCALLTYPE* GetLastHttpStatus)(Self * This, LONG* status);                            \
    HRESULT (STDMETHODCALLTYPE* GetLastServiceStatus)(Self * This, LONG* status);

typedef struct InvTamselAgentOpsVtbl {
    BEGIN_INTERFACE
    TAMSEL_OPS_SLOTS(InvTamselAgentOps)
    END_INTERFACE
} InvTamselAgentOpsVtbl;
struct InvTamselAgentOps {
    const InvTamselAgentOpsVtbl* lpVtbl;
};

// The slots of InvTamselAgentOps2, which InvTamselAgentOps3 repeats before its own.
#define TAMSEL_OPS2_SLOTS(Self)                                                                            \
    TAMSEL_OPS_SLOTS(Self)                                                                                 \
    HRESULT (STDMETHODCALLTYPE* FetchToFileEx)(Self * This, const char* url, const wchar_t* path,          \
                                               ProgressSink* progress, ULONG flags, LONGLONG expectedSize);

typedef struct InvTamselAgentOps2Vtbl {
    BEGIN_INTERFACE
    TAMSEL_OPS2_SLOTS(InvTamselAgentOps2)
    END_INTERFACE
} InvTamselAgentOps2Vtbl;
struct InvTamselAgentOps2 {
    const InvTamselAgentOps2Vtbl* lpVtbl;
};

// The slots of InvTamselAgentOps3, which InvTamselAgentOps4 repeats before its own.
#define TAMSEL_OPS3_SLOTS(Self)                                                                            \
    TAMSEL_OPS2_SLOTS(Self)                                                                                \
    HRESULT (STDMETHODCALLTYPE* QueryDownloadEx)(Self * This, char* downloadUrl, ULONG downloadUrlSize,    \
                                                 const char* serviceUrl, const char* code, LONGLONG* fileSize, \
                                                 char* sha256, ULONG sha256Size);                          \
    HRESULT (STDMETHODCALLTYPE* FetchToFileVerified)(Self * This, const char* url, const wchar_t* path,    \
                                                     ProgressSink* progress, ULONG flags,                  \
                                                     LONGLONG expectedSize, const char* sha256);

typedef struct InvTamselAgentOps3Vtbl {
    BEGIN_INTERFACE
    TAMSEL_OPS3_SLOTS(InvTamselAgentOps3)
    END_INTERFACE
} InvTamselAgentOps3Vtbl;
struct InvTamselAgentOps3 {
    const InvTamselAgentOps3Vtbl* lpVtbl;
};

typedef struct InvTamselAgentOps4Vtbl {
    BEGIN_INTERFACE
    TAMSEL_OPS3_SLOTS(InvTamselAgentOps4)
    HRESULT (STDMETHODCALLTYPE* QueryDownloadSources)(InvTamselAgentOps4* This, char* sources, ULONG sourcesSize,
                                                      const char* serviceUrl, const char* code, LONGLONG* fileSize,
                                                      char* sha256, ULONG sha256Size);
    HRESULT (STDMETHODCALLTYPE* FetchToFileResilient)(InvTamselAgentOps4* This, const char* sources,
                                                      const wchar_t* path, ProgressSink* progress, ULONG flags,
                                                      LONGLONG expectedSize, const char* sha256,
                                                      const TAMSEL_DOWNLOAD_POLICY* policy,
                                                      TAMSEL_DOWNLOAD_INFO* info);
    HRESULT (STDMETHODCALLTYPE* ReportDownloadEx)(InvTamselAgentOps4* This, const char* serviceUrl,
                                                  const char* code, LONG success, const TAMSEL_DOWNLOAD_INFO* info,
                                                  LONG* remaining);
    HRESULT (STDMETHODCALLTYPE* SetProxyCredentials)(InvTamselAgentOps4* This, const wchar_t* user,
                                                     const wchar_t* password);
    END_INTERFACE
} InvTamselAgentOps4Vtbl;
struct InvTamselAgentOps4 {
    const InvTamselAgentOps4Vtbl* lpVtbl;
};

// The slots of InvTamselAgent2, which InvTamselAgent3 repeats before its own.
#define TAMSEL_AGENT2_SLOTS(Self)                                                                           \
    HRESULT (STDMETHODCALLTYPE* QueryInterface)(Self * This, REFIID riid, void** object);                   \
    ULONG (STDMETHODCALLTYPE* AddRef)(Self * This);                                                         \
    ULONG (STDMETHODCALLTYPE* Release)(Self * This);                                                        \
    HRESULT (STDMETHODCALLTYPE* GetTypeInfoCount)(Self * This, UINT* count);                                \
    HRESULT (STDMETHODCALLTYPE* GetTypeInfo)(Self * This, UINT index, LCID locale, ITypeInfo** info);       \
    HRESULT (STDMETHODCALLTYPE* GetIDsOfNames)(Self * This, REFIID riid, LPOLESTR* names, UINT count,       \
                                               LCID locale, DISPID* ids);                                   \
    HRESULT (STDMETHODCALLTYPE* Invoke)(Self * This, DISPID member, REFIID riid, LCID locale, WORD flags,   \
                                        DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,      \
                                        UINT* argumentError);                                               \
    HRESULT (STDMETHODCALLTYPE* LookupRedirect)(Self * This, BSTR lookupUrl, BSTR serial, BSTR language,    \
                                                BSTR type, BSTR* target);                                   \
    HRESULT (STDMETHODCALLTYPE* QueryDownload)(Self * This, BSTR serviceUrl, BSTR code, BSTR* downloadUrl); \
    HRESULT (STDMETHODCALLTYPE* Download)(Self * This, BSTR url, BSTR path, LONG flags,                     \
                                          VARIANT expectedSize, BSTR sha256);                               \
    HRESULT (STDMETHODCALLTYPE* ReportDownload)(Self * This, BSTR serviceUrl, BSTR code,                    \
                                                VARIANT_BOOL success, LONG* remaining);                     \
    HRESULT (STDMETHODCALLTYPE* get_LastFileSize)(Self * This, double* size);                               \
    HRESULT (STDMETHODCALLTYPE* get_LastSha256)(Self * This, BSTR* digest);                                 \
    HRESULT (STDMETHODCALLTYPE* get_LastHttpStatus)(Self * This, LONG* status);                             \
    HRESULT (STDMETHODCALLTYPE* get_LastServiceStatus)(Self * This, LONG* status);                          \
    HRESULT (STDMETHODCALLTYPE* get_OnProgress)(Self * This, IDispatch** handler);                          \
    HRESULT (STDMETHODCALLTYPE* put_OnProgress)(Self * This, IDispatch* handler);                           \
    HRESULT (STDMETHODCALLTYPE* putref_OnProgress)(Self * This, IDispatch* handler);                        \
    HRESULT (STDMETHODCALLTYPE* get_Version)(Self * This, BSTR* version);

typedef struct InvTamselAgent2Vtbl {
    BEGIN_INTERFACE
    TAMSEL_AGENT2_SLOTS(InvTamselAgent2)
    END_INTERFACE
} InvTamselAgent2Vtbl;
struct InvTamselAgent2 {
    const InvTamselAgent2Vtbl* lpVtbl;
};

typedef struct InvTamselAgent3Vtbl {
    BEGIN_INTERFACE
    TAMSEL_AGENT2_SLOTS(InvTamselAgent3)
    HRESULT (STDMETHODCALLTYPE* DownloadFrom)(InvTamselAgent3* This, VARIANT sources, BSTR path, LONG flags,
                                              VARIANT expectedSize, BSTR sha256);
    HRESULT (STDMETHODCALLTYPE* get_MaxAttempts)(InvTamselAgent3* This, LONG* attempts);
    HRESULT (STDMETHODCALLTYPE* put_MaxAttempts)(InvTamselAgent3* This, LONG attempts);
    HRESULT (STDMETHODCALLTYPE* get_MaxRetryWait)(InvTamselAgent3* This, LONG* waitMs);
    HRESULT (STDMETHODCALLTYPE* put_MaxRetryWait)(InvTamselAgent3* This, LONG waitMs);
    HRESULT (STDMETHODCALLTYPE* get_Deadline)(InvTamselAgent3* This, LONG* deadlineMs);
    HRESULT (STDMETHODCALLTYPE* put_Deadline)(InvTamselAgent3* This, LONG deadlineMs);
    HRESULT (STDMETHODCALLTYPE* get_MaxBytesPerSecond)(InvTamselAgent3* This, LONG* rate);
    HRESULT (STDMETHODCALLTYPE* put_MaxBytesPerSecond)(InvTamselAgent3* This, LONG rate);
    HRESULT (STDMETHODCALLTYPE* get_Connections)(InvTamselAgent3* This, LONG* connections);
    HRESULT (STDMETHODCALLTYPE* put_Connections)(InvTamselAgent3* This, LONG connections);
    HRESULT (STDMETHODCALLTYPE* get_LastSources)(InvTamselAgent3* This, VARIANT* sources);
    HRESULT (STDMETHODCALLTYPE* get_LastAttempts)(InvTamselAgent3* This, LONG* attempts);
    HRESULT (STDMETHODCALLTYPE* get_LastSourceIndex)(InvTamselAgent3* This, LONG* sourceIndex);
    HRESULT (STDMETHODCALLTYPE* get_LastBytesResumed)(InvTamselAgent3* This, double* bytes);
    HRESULT (STDMETHODCALLTYPE* get_LastAttemptResult)(InvTamselAgent3* This, LONG* result);
    HRESULT (STDMETHODCALLTYPE* get_LastRetryAfter)(InvTamselAgent3* This, double* waitMs);
    HRESULT (STDMETHODCALLTYPE* ReportDownloadEx)(InvTamselAgent3* This, BSTR serviceUrl, BSTR code,
                                                  VARIANT_BOOL success, LONG* remaining);
    HRESULT (STDMETHODCALLTYPE* get_ProxyUser)(InvTamselAgent3* This, BSTR* user);
    HRESULT (STDMETHODCALLTYPE* put_ProxyUser)(InvTamselAgent3* This, BSTR user);
    HRESULT (STDMETHODCALLTYPE* put_ProxyPassword)(InvTamselAgent3* This, BSTR password);
    END_INTERFACE
} InvTamselAgent3Vtbl;
struct InvTamselAgent3 {
    const InvTamselAgent3Vtbl* lpVtbl;
};

#endif

// Named constants with internal linkage: nothing to link.
#define TAMSEL_CONSTANT_GUID(type, constant, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    static const GUID constant = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};
TAMSEL_IDENTIFIERS(TAMSEL_CONSTANT_GUID)

#endif
