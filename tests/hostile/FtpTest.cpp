// Hostile FTP servers: a login refused, a mode refused, and a transfer whose connections drop halfway through.
#include "support/FtpDouble.h"
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {
namespace {

using test::FtpDouble;

// What the first tests script: a login refused or not, the file's size, and how much of it RETR sends.
test::FtpScript Script(bool refuseLogin, uint64_t fileSize, uint64_t sendBeforeDrop, unsigned holdAtRetr = 0) {
    test::FtpScript script;
    script.refuseLogin = refuseLogin;
    script.fileSize = fileSize;
    script.sendBeforeDrop = sendBeforeDrop;
    script.holdAtRetr = holdAtRetr;
    return script;
}

class Ftp : public HostileTest {
protected:
    static std::string Url(const FtpDouble& server) {
        return "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/file.bin";
    }

    // FetchToFile of the double's file into target, given at most limitMs; elapsedMs tells how long it ran.
    HRESULT Fetch(const FtpDouble& server, DWORD limitMs = 30000) {
        auto result = std::make_shared<HRESULT>(S_FALSE);
        auto agent = this->agent;
        const std::string url = Url(server);
        const std::string path = target;
        BoundedRun run([=] { *result = agent->FetchToFile(url.c_str(), path.c_str(), nullptr); });
        const bool ended = run.Within(limitMs);
        elapsedMs = run.elapsedMs;
        EXPECT_TRUE(ended) << "FetchToFile of an FTP file still running after " << limitMs << " ms";
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

}  // namespace
}  // namespace tamsel::hostile
