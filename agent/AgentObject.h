// The agent behind InvTamselAgentOps: its session, its two status slots and its six operations.
// The faces that translate it for each interface live in faces/ and automation/, its COM identity in module/.
#pragma once

#include "include/NorvikTamselAgent.h"
#include "web/ProxyCredentials.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

namespace tamsel::web {
class WebSession;
struct DownloadAsk;
struct DownloadResult;
struct WebReply;
}

namespace tamsel::agent {

class ExpectedSize;
class HashedBody;
class PartialDownload;
struct ProgressSinks;
struct SafePaths;
struct Verification;

class AgentObject {
public:
    AgentObject() noexcept;
    ~AgentObject();
    AgentObject(const AgentObject&) = delete;
    AgentObject& operator=(const AgentObject&) = delete;

    // The operations of InvTamselAgentOps, in slot order. None of them throws. A network operation
    // called while another one of this object is running (from its progress sink, or from another
    // thread) returns HRESULT_FROM_WIN32(ERROR_BUSY) at once, sends nothing and changes nothing.
    HRESULT LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl, const char* serial,
                           const char* language, const char* type) noexcept;
    HRESULT QueryDownload(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl,
                          const char* code, LONGLONG* fileSize) noexcept;
    HRESULT FetchToFile(const char* url, const char* path, ProgressSink* progress) noexcept;
    HRESULT ReportDownload(const char* serviceUrl, const char* code, LONG success,
                           LONG* remaining) noexcept;
    HRESULT GetLastHttpStatus(LONG* status) noexcept;
    HRESULT GetLastServiceStatus(LONG* status) noexcept;
    // The later interfaces' downloads run their probe alongside the first request, and one that passed
    // on this object less than this long ago, with no probe failed since, stands for theirs.
    static constexpr DWORD RECENT_PROBE_MS = 10000;

    // InvTamselAgentOps2's download: a UTF-16 path, safe replacement, resume, an expected size, strict
    // TLS and byte progress; a cancel returns E_ABORT.
    HRESULT FetchToFileEx(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                          LONGLONG expectedSize) noexcept;
    // InvTamselAgentOps3's two: the query that also reads the file's digest, and the download that
    // proves it, with a distinct result for each reason a download fails.
    HRESULT QueryDownloadEx(char* downloadUrl, ULONG downloadUrlSize, const char* serviceUrl, const char* code,
                            LONGLONG* fileSize, char* sha256, ULONG sha256Size) noexcept;
    HRESULT FetchToFileVerified(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                                LONGLONG expectedSize, const char* sha256) noexcept;

    // Credentials that the object's later requests answer a proxy's challenge (407) with, in place of
    // those the platform holds: Basic, and whatever scheme the platform knows. Held in memory only,
    // wiped when replaced, cleared (a null or empty user) or the object ends; never sent to a server,
    // never written anywhere. A user holding ':' (which Basic cannot carry) is E_INVALIDARG; while a
    // network operation runs, AGENT_E_BUSY, nothing changed.
    HRESULT SetProxyCredentials(const wchar_t* user, const wchar_t* password) noexcept;

    // hr as the later interfaces answer it: a proxy that asked for credentials it did not get (the last
    // HTTP status 407, at the probe or at any request) is AGENT_E_PROXY_AUTH, where the first interface
    // answers AGENT_E_NO_SESSION or AGENT_E_HTTP_STATUS.
    HRESULT AsLaterInterface(HRESULT hr) const noexcept;

private:
    using Texts = std::initializer_list<const char*>;
    // When the probe runs: before anything else is sent (the first interface), or alongside the
    // operation's first request (the later interfaces, whose outcome then goes through ProbedOutcome).
    enum class ProbeTiming { BEFORE, ALONGSIDE };
    // claimed: whether this call holds the agent. sent: refused holding a control character; own: the
    // operation's own verdict on its arguments; both before the probe. required: refused empty, after it.
    HRESULT OpenOperation(bool claimed, Texts sent, Texts required, HRESULT own = S_OK,
                          ProbeTiming timing = ProbeTiming::BEFORE) noexcept;
    bool FreshSession() noexcept;
    HRESULT BeginNetworkOperation() noexcept;
    HRESULT BeginLaterOperation() noexcept;
    HRESULT ProbedOutcome(HRESULT result) noexcept;
    void NoteProxyRefusal() noexcept;
    void NoteProbePassed() noexcept;
    void NoteProbeFailed() noexcept;
    HRESULT CheckHttpStatus(int32_t status) noexcept;
    HRESULT CheckServiceStatus(const web::WebReply& reply, bool acceptTwo);
    HRESULT AskForDownload(const char* serviceUrl, const char* code, web::WebReply& reply);
    HRESULT FetchChecked(const char* url, const wchar_t* path, ProgressSink* progress, ULONG flags,
                         LONGLONG expectedSize, std::optional<const char*> sha256) noexcept;
    HRESULT CheckDownload(const web::DownloadResult& download) noexcept;
    HRESULT CheckSizedDownload(const web::DownloadResult& download, bool announcedOtherwise, uint64_t stored,
                               const ExpectedSize& expected) noexcept;
    HRESULT FetchDirectly(const std::wstring& path, const web::DownloadAsk& ask, const ProgressSinks& sinks);
    // verified null: FetchToFileEx's results, where every failure of the file or the transfer is E_FAIL.
    HRESULT FetchSafely(const char* url, const std::wstring& path, web::DownloadAsk& ask, ULONG flags,
                        const ProgressSinks& sinks, const Verification* verified);
    HRESULT SafeOutcome(const web::DownloadResult& download, const PartialDownload& partial,
                        const ExpectedSize& expected) noexcept;

    std::atomic<bool> m_busy{false};  // a network operation is running
    std::unique_ptr<web::WebSession> m_session;
    LONG m_lastHttpStatus = -1;
    LONG m_lastServiceStatus = -1;
    // When a probe of this object last answered 200 (tick count), if one did and none failed since.
    std::optional<DWORD> m_probePassedAt;
    web::ProxyCredentials m_proxyCredentials;
};

}  // namespace tamsel::agent
