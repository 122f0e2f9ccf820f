// Hostile FTP servers: a login refused, a mode refused, a transfer whose connections drop halfway through,
// and silences at every step of a download, in passive mode and in active.
#include "support/FtpDouble.h"
#include "hostile/HostileSupport.h"

#include <algorithm>

namespace tamsel::hostile {
namespace {

using test::FtpDouble;
using test::FtpScript;

// What the first tests script: a login refused or not, the file's size, and how much of it RETR sends.
FtpScript Script(bool refuseLogin, uint64_t fileSize, uint64_t sendBeforeDrop, unsigned holdAtRetr = 0) {
    FtpScript script;
    script.refuseLogin = refuseLogin;
    script.fileSize = fileSize;
    script.sendBeforeDrop = sendBeforeDrop;
    script.holdAtRetr = holdAtRetr;
    return script;
}

// The file of script, whose reply to `reply` (its nth, counted from 1 over all connections; 0: every one)
// never comes.
FtpScript SilentAt(FtpScript script, const char* reply, unsigned nth) {
    script.silentAt = reply;
    script.silentNth = nth;
    return script;
}

// The file of script, whose listing's data connection stays open and silent.
FtpScript ListingHeld(FtpScript script) {
    script.holdListing = true;
    return script;
}

// The file of script, in active mode only: PASV and EPSV refused.
FtpScript PassiveRefused(FtpScript script) {
    script.refusePassive = true;
    return script;
}

// The interfaces' downloads, as a test asks for one.
enum class Call { FETCH_TO_FILE, VERIFIED, RESUMING };

class Ftp : public HostileTest {
protected:
    static std::string Url(const FtpDouble& server) {
        return "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/file.bin";
    }

    // A download of the double's file into target, given at most limitMs; elapsedMs tells how long it ran.
    HRESULT Fetch(const FtpDouble& server, DWORD limitMs = 30000, Call call = Call::FETCH_TO_FILE) {
        auto result = std::make_shared<HRESULT>(S_FALSE);
        auto agent = this->agent;
        const std::string url = Url(server);
        const std::string path = target;
        const std::wstring wide(path.begin(), path.end());  // the scratch folder's path is ASCII
        BoundedRun run([=] {
            switch (call) {
                case Call::FETCH_TO_FILE: *result = agent->FetchToFile(url.c_str(), path.c_str(), nullptr); break;
                case Call::VERIFIED:
                    *result = agent->FetchToFileVerified(url.c_str(), wide.c_str(), nullptr, 0, -1, nullptr);
                    break;
                case Call::RESUMING:
                    *result = agent->FetchToFileEx(url.c_str(), wide.c_str(), nullptr, TAMSEL_FETCH_RESUME, -1);
                    break;
            }
        });
        const bool ended = run.Within(limitMs);
        elapsedMs = run.elapsedMs;
        EXPECT_TRUE(ended) << "the download of an FTP file still running after " << limitMs << " ms";
        return ended ? *result : S_FALSE;
    }

    static size_t Retrievals(FtpDouble& server) {
        size_t count = 0;
        for (const std::string& command : server.Commands()) count += command.rfind("RETR", 0) == 0 ? 1 : 0;
        return count;
    }
};

TEST_F(Ftp, RefusedLoginIsNoExchangeAndMakesNoFile) {
    FtpDouble server(Script(true, 1000, 1000));
    ASSERT_NE(server.Port(), 0);
    ASSERT_TRUE(WriteWhole(target, "the host's own file"));
    EXPECT_EQ(Fetch(server), AGENT_E_HTTP_STATUS);
    EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no file was opened: no status";
    EXPECT_EQ(Contents(target), "the host's own file");
    for (const std::string& command : server.Commands()) {
        EXPECT_NE(command.rfind("RETR", 0), 0u) << "nothing may be fetched without a login";
    }
}

TEST_F(Ftp, ConnectionsDroppedMidTransferFailTheDownload) {
    // The listing promises 1,000,000 bytes; RETR sends 300,000 and closes both connections.
    FtpDouble server(Script(false, 1000000, 300000));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(Fetch(server), E_FAIL) << "a cut transfer is not a download";
    EXPECT_TRUE(NoStatusKept(*agent)) << "the file was opened: the failure is the transfer's";
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 300000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";

    // The same server sending the whole file: the double itself is sound.
    FtpDouble whole(Script(false, 200000, 200000));
    EXPECT_EQ(Fetch(whole), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
}

TEST_F(Ftp, SilentDataConnectionFailsWithinTheBoundedWait) {
    // The download's RETR sends 300,000 of 1,000,000 bytes, then keeps both connections open and says
    // nothing (the Location look's RETR before it is dropped). Wine's FTP reads wait for the data
    // connection with no bound of their own: only the component's wait ends this one.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    FtpDouble server(Script(false, 1000000, 300000, 2));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(Fetch(server, 20000), E_FAIL) << "a transfer that stopped moving is broken";
    EXPECT_LT(elapsedMs, wait + 1500) << "the silence was waited out for longer than the bounded wait";
    EXPECT_TRUE(NoStatusKept(*agent));
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 300000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";
    EXPECT_EQ(Retrievals(server), 2u) << "the look and the download, nothing asked again";
}

// The first command of each kind in commands, in order, as "VERB" words: what the server saw of modes.
std::vector<std::string> ModeCommands(const std::vector<std::string>& commands) {
    std::vector<std::string> modes;
    for (const std::string& command : commands) {
        const std::string verb = command.substr(0, command.find(' '));
        if (verb == "PASV" || verb == "EPSV" || verb == "PORT" || verb == "RETR") modes.push_back(verb);
    }
    return modes;
}

TEST_F(Ftp, PassiveModeFirstAndActiveOnlyWhenTheServerRefusesPassive) {
    struct Row {
        const char* name;
        bool refusePassive;
        bool refuseActive;
        // Look (passive, the RETR it opens), then the download: passive, or passive refused and active.
        std::vector<std::string> modes;
    };
    const Row rows[] = {
        {"passive refused: the look fails, the download falls back to active mode", true, false,
         {"PASV", "PASV", "PORT", "PORT", "RETR"}},
        {"active refused: passive mode works from the start", false, true, {"PASV", "RETR", "PASV", "PASV", "RETR"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        test::FtpScript script;
        script.fileSize = 200000;
        script.sendBeforeDrop = 200000;
        script.refusePassive = row.refusePassive;
        script.refuseActive = row.refuseActive;
        FtpDouble server(script);
        ASSERT_NE(server.Port(), 0);
        EXPECT_EQ(Fetch(server), S_OK);
        EXPECT_TRUE(HoldsPattern(Contents(target), 200000)) << "the file arrived whole";
        EXPECT_EQ(ModeCommands(server.Commands()), row.modes);
    }
}

TEST_F(Ftp, ASilenceBeforeTheFirstByteIsGivenUpWithinTheBoundedWait) {
    // Wine waits 30 s for each control reply, and for ever for a listing whose data connection stays
    // open: only the component's wait ends these. Every row's file is 200,000 bytes, sent whole.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    struct Case {
        const char* what;
        FtpScript script;
        Call call;
        HRESULT expected;
        unsigned stalls;    // bounded waits that run out on the way
        size_t retrievals;  // the RETRs the double saw: where the download stopped
    };
    const FtpScript file = Script(false, 200000, 200000);
    const Case cases[] = {
        {"the download's listing never ends", ListingHeld(file), Call::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1, 1},
        {"the download's connection gets no greeting", SilentAt(file, "greeting", 2), Call::FETCH_TO_FILE,
         AGENT_E_HTTP_STATUS, 1, 1},
        {"the download's RETR gets no reply", SilentAt(file, "RETR", 2), Call::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1,
         2},
        {"the verified download's listing never ends", ListingHeld(file), Call::VERIFIED, AGENT_E_HTTP_STATUS, 1, 1},
        // A resume's validator is asked on the same worker: SIZE, then MDTM, which this server never answers.
        {"the resuming download's MDTM gets no reply", SilentAt(file, "MDTM", 1), Call::RESUMING, AGENT_E_HTTP_STATUS,
         1, 1},
        // A look given up is a look that found no Location: the download goes on.
        {"the look's login gets no reply", SilentAt(file, "PASS", 1), Call::FETCH_TO_FILE, S_OK, 1, 1},
        // The bytes are all there; the close that waits for the server's last word is given up.
        {"no transfer ever gets its 226", SilentAt(file, "226", 0), Call::FETCH_TO_FILE, S_OK, 2, 2},
        // The look's PASV is the first; a PASV given up ends the download, with no try in active mode.
        {"the download's PASV gets no reply", SilentAt(file, "PASV", 2), Call::FETCH_TO_FILE, AGENT_E_HTTP_STATUS,
         1, 1},
        // Passive refused: the look fails at once (it tries no active mode) and the download lists in
        // active mode, where the silence meets it.
        {"passive refused, the active listing never ends", ListingHeld(PassiveRefused(file)), Call::FETCH_TO_FILE,
         AGENT_E_HTTP_STATUS, 1, 0},
        {"passive refused, the active RETR gets no reply", SilentAt(PassiveRefused(file), "RETR", 1),
         Call::FETCH_TO_FILE, AGENT_E_HTTP_STATUS, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::DeleteFileA(target.c_str());
        FtpDouble server(c.script);
        ASSERT_NE(server.Port(), 0);
        EXPECT_EQ(Fetch(server, 20000, c.call), c.expected);
        EXPECT_LT(elapsedMs, c.stalls * wait + 1500) << "a silence was waited out for longer than the bounded wait";
        EXPECT_GE(elapsedMs + 100, c.stalls * wait) << "the silences the row meets were not all met";
        EXPECT_EQ(Retrievals(server), c.retrievals);
        if (c.expected == S_OK) {
            EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
        } else {
            EXPECT_TRUE(HttpStatusKept(*agent, 0)) << "no file was opened: no exchange";
            EXPECT_FALSE(Exists(target));
        }
        for (const char* suffix : {".tamsel-partial", ".tamsel-resume"}) {
            EXPECT_FALSE(Exists(target + suffix)) << "left beside the target: " << suffix;
        }
    }
}

TEST_F(Ftp, ARestartNeverAnsweredKeepsThePartFileForTheNextAttempt) {
    // Every RETR sends 300,000 of 1,000,000 bytes and drops; the first REST gets no reply. SIZE and MDTM
    // are what a resume needs to be asked for at all.
    constexpr uint32_t wait = 2000;
    ShortWaits shortWaits(wait);
    FtpScript script = SilentAt(Script(false, 1000000, 300000), "REST", 1);
    script.mdtm = "20240101120005";
    FtpDouble server(script);
    ASSERT_NE(server.Port(), 0);
    ASSERT_EQ(Fetch(server, 20000, Call::RESUMING), E_FAIL) << "the first attempt breaks off";
    ASSERT_EQ(SizeOf(target + ".tamsel-partial"), 300000);

    EXPECT_EQ(Fetch(server, 20000, Call::RESUMING), AGENT_E_HTTP_STATUS) << "no exchange: the file never opened";
    EXPECT_LT(elapsedMs, wait + 1500) << "the silence was waited out for longer than the bounded wait";
    EXPECT_TRUE(HttpStatusKept(*agent, 0));
    EXPECT_FALSE(Exists(target));
    EXPECT_TRUE(HoldsPattern(Contents(target + ".tamsel-partial"), 300000)) << "what arrived is kept, unchanged";
    EXPECT_TRUE(Exists(target + ".tamsel-resume"));
    const std::vector<std::string> commands = server.Commands();
    EXPECT_NE(std::find(commands.begin(), commands.end(), "REST 300000"), commands.end());
    EXPECT_EQ(Retrievals(server), 3u) << "two looks and the first download: the second never asked";
}

}  // namespace
}  // namespace tamsel::hostile
