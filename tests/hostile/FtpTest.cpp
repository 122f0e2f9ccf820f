// Hostile FTP servers: a login refused, a mode refused, a transfer whose connections drop halfway through;
// their silences stand with the others (SilenceTest.cpp).
#include "support/FtpDouble.h"
#include "hostile/HostileSupport.h"

namespace tamsel::hostile {
namespace {

using test::FtpDouble;
using test::FtpUrl;
using test::ScriptedFile;

class Ftp : public HostileTest {
protected:
    // FetchToFile of the double's file into target, given at most limitMs.
    HRESULT Fetch(const FtpDouble& server, DWORD limitMs = 30000) { return FetchWithin(limitMs, FtpUrl(server)); }
};

TEST_F(Ftp, RefusedLoginIsNoExchangeAndMakesNoFile) {
    FtpDouble server(ScriptedFile(true, 1000, 1000));
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
    FtpDouble server(ScriptedFile(false, 1000000, 300000));
    ASSERT_NE(server.Port(), 0);
    EXPECT_EQ(Fetch(server), E_FAIL) << "a cut transfer is not a download";
    EXPECT_TRUE(NoStatusKept(*agent)) << "the file was opened: the failure is the transfer's";
    const std::string stored = Contents(target);
    EXPECT_LE(stored.size(), 300000u);
    EXPECT_TRUE(HoldsPattern(stored, stored.size())) << "what was stored is what arrived, in order";

    // The same server sending the whole file: the double itself is sound.
    FtpDouble whole(ScriptedFile(false, 200000, 200000));
    EXPECT_EQ(Fetch(whole), S_OK);
    EXPECT_TRUE(HoldsPattern(Contents(target), 200000));
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
