// The agent: the object behind every interface, with its session, its two status slots, its busy flag and
// its recent probe, whose operations answer values that say what happened (agent/Answers.h). The faces
// translate those values into each interface's results; COM and the public result codes are theirs alone.
#pragma once

#include "agent/Answers.h"
#include "web/ProxyCredentials.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tamsel::web {
class WebSession;
struct DownloadAsk;
struct DownloadResult;
struct WebReply;
}

namespace tamsel::agent {

class DownloadProgress;
class HashedBody;
class PartialDownload;
struct AttemptSetup;
struct AttemptTally;
struct DownloadFacts;
struct ResumePoint;
struct FormField;
struct ServiceVerdict;

class AgentObject {
public:
    AgentObject() noexcept;
    ~AgentObject();
    AgentObject(const AgentObject&) = delete;
    AgentObject& operator=(const AgentObject&) = delete;

    // The four network operations. Each opens as Open says, makes its exchanges and answers how it ended;
    // none throws. One called while another of this object runs (from a progress callback, or another
    // thread) answers Busy at once, sends nothing and changes nothing. A null text is an empty one.

    // Where lookupUrl + "?SN=" + serial + "&LN=" + language + "&TYPE=" + type redirects to.
    LookupAnswer LookupRedirect(const char* lookupUrl, const char* serial, const char* language,
                                const char* type) noexcept;
    // The download URL and size the service answers for code, and the file's SHA-256 when it names one.
    QueryAnswer QueryDownload(const char* serviceUrl, const char* code, NamedDigest digest) noexcept;
    // Tells the service how the download for code ended; the downloads that remain.
    ReportAnswer ReportDownload(const char* serviceUrl, const char* code, bool success) noexcept;
    // The same, telling the service also what the download did (ServiceProtocol's ReportForm).
    ReportAnswer ReportDownload(const char* serviceUrl, const char* code, bool success,
                                const ReportedDownload& download) noexcept;
    // Downloads request.url into request.path as the request asks, telling progress (null: nobody) how far
    // it has come.
    DownloadOutcome Download(const DownloadRequest& request, DownloadProgress* progress) noexcept;
    // Downloads into request.download.path from its sources, safely and proving the digest as Download
    // does, one attempt after another as the retry rules (agent/RetryPlan.h) and the policy allow: each
    // attempt goes on from the byte the last one reached where its validator or the digest allows it,
    // waits between them tell progress at least twice a second, and the answer's info says what was done,
    // whatever the outcome. The probe runs once, beside the first attempt.
    ResilientOutcome DownloadResilient(const ResilientRequest& request, DownloadProgress* progress) noexcept;

    // Credentials that the object's later requests answer a proxy's challenge (407) with, in place of
    // those the platform holds: Basic, and whatever scheme the platform knows. Held in memory only,
    // wiped when replaced, cleared (a null or empty user) or the object ends; never sent to a server,
    // never written anywhere. A user holding ':' (which Basic cannot carry) is Refused; while a network
    // operation runs, Busy, nothing changed.
    Answer SetProxyCredentials(const wchar_t* user, const wchar_t* password) noexcept;

    // The status slots: the HTTP status and the service status behind the last network operation's
    // failure; -1 when it kept none. Every network operation clears them when it replaces the session.
    int32_t LastHttpStatus() const noexcept { return m_lastHttpStatus; }
    int32_t LastServiceStatus() const noexcept { return m_lastServiceStatus; }
    // For a face whose interface answers a failure as an exchange's where the agent told it apart (the
    // first interface's refused certificate): the status its getter is then to report.
    void KeepHttpStatus(int32_t status) noexcept { m_lastHttpStatus = status; }

    // How long a network operation waits for the probe's answer at most.
    static const uint32_t PROBE_WAIT_MS;
    // A download whose probe runs alongside its first request lets one that passed on this object less
    // than this long ago, with no probe failed since, stand for its own.
    static constexpr DWORD RECENT_PROBE_MS = 10000;

private:
    using Texts = std::initializer_list<const char*>;
    // When the probe runs: before anything else is sent, or alongside the operation's first request
    // (whose answer then goes through ProbedOutcome).
    enum class ProbeTiming { BEFORE, ALONGSIDE };
    // sent: refused holding a control character, before the probe; required: refused empty, after it.
    struct Opening {
        Texts sent;
        Texts required;
        ProbeTiming timing = ProbeTiming::BEFORE;
    };

    template <typename Own, typename Work>
    void Run(Answer& answer, const Opening& opening, Own&& own, Work&& work) noexcept;
    Reason Open(const Opening& opening, Reason own) noexcept;
    bool FreshSession() noexcept;
    Reason ProbeFirst() noexcept;
    Reason ProbeAlongside() noexcept;
    Reason ProbedOutcome(Reason reason) noexcept;
    void NoteProxyRefusal() noexcept;
    void NoteProbePassed() noexcept;
    void NoteProbeFailed() noexcept;
    Reason HttpStatusOf(int32_t status) noexcept;
    Reason ServiceStatusOf(const ServiceVerdict& verdict) noexcept;

    Reason Look(const char* lookupUrl, const char* serial, const char* language, const char* type,
                std::string& target);
    Reason PostForm(const char* serviceUrl, const std::vector<FormField>& form, web::WebReply& reply);
    Reason Ask(const char* serviceUrl, const char* code, NamedDigest digest, QueryAnswer& answer);
    Reason Tell(const std::vector<FormField>& form, const char* serviceUrl, ReportAnswer& answer);
    Reason Fetch(const DownloadRequest& request, DownloadProgress* progress, DownloadOutcome& outcome);
    Reason FetchDirectly(const std::wstring& path, const web::DownloadAsk& ask, DownloadProgress* progress,
                         DownloadOutcome& outcome);
    Reason FetchSafely(const DownloadRequest& request, const std::wstring& path, web::DownloadAsk& ask,
                       DownloadProgress* progress, DownloadOutcome& outcome);
    std::optional<Reason> SettleAttempt(DownloadFacts& facts, PartialDownload& partial, const std::wstring& target,
                                        DownloadOutcome& outcome);
    Reason Judged(DownloadFacts& facts, const std::wstring& target, DownloadOutcome& outcome) noexcept;
    Reason FetchResilient(const ResilientRequest& request, DownloadProgress* progress, ResilientOutcome& outcome);
    Reason Attempts(const ResilientRequest& request, AttemptSetup& setup, DownloadProgress* progress,
                    ResilientOutcome& outcome);
    AttemptEnd TryOnce(const std::string& url, AttemptSetup& setup, std::optional<ResumePoint> point,
                       DownloadProgress* progress, AttemptTally& tally, DownloadOutcome& outcome);
    bool SettleTry(const web::DownloadResult& transfer, PartialDownload& partial, HashedBody& hashed,
                   const AttemptSetup& setup, AttemptEnd& end, DownloadOutcome& outcome);

    std::atomic<bool> m_busy{false};  // a network operation is running
    std::unique_ptr<web::WebSession> m_session;
    int32_t m_lastHttpStatus = -1;
    int32_t m_lastServiceStatus = -1;
    // When a probe of this object last answered 200 (tick count), if one did and none failed since.
    std::optional<DWORD> m_probePassedAt;
    web::ProxyCredentials m_proxyCredentials;
};

}  // namespace tamsel::agent
