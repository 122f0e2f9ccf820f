// A scripted FTP server inside the test process, for what the loopback server's anonymous one never does:
// refuse a login, a mode or MDTM, drop the connections in the middle of a transfer, fall silent at any step,
// or swap its file for another of the same size within the minute.
#pragma once

#include "support/TestHandles.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamsel::test {

struct FtpScript {
    bool refuseLogin = false;      // answer 530 to USER and PASS
    uint64_t fileSize = 0;         // what LIST and SIZE announce for any file
    uint64_t sendBeforeDrop = 0;   // RETR sends this many pattern bytes, then closes both connections
    unsigned holdAtRetr = 0;       // the RETR with this number (from 1) keeps both connections open and
                                   // silent until the double stops, instead of closing them; 0: none
    bool refusePassive = false;    // answer PASV and EPSV with 502
    bool refuseActive = false;     // answer PORT with 500
    std::string mdtm;              // MDTM's answer, "YYYYMMDDHHMMSS"; empty: MDTM is not known (502)
    unsigned char version = 0;     // the file's bytes are the pattern's XOR this: another file, same size,
                                   // same listing
    bool holdListing = false;      // LIST sends its listing, then keeps the data connection open and silent
                                   // until the double stops
    const char* silentAt = nullptr;  // a command word, "greeting" (a new connection's 220) or "226" (the end
                                     // of a whole RETR): that reply never comes, the connection held open
                                     // and silent until the double stops
    unsigned silentNth = 0;          // which occurrence of silentAt (from 1, counted over all connections);
                                     // 0: every one
};

// Serves one script on 127.0.0.1 in passive (PASV) or active mode (PORT), and a transfer from REST's
// offset, one thread per control connection. Every socket waits at most a few seconds (a held transfer
// waits until the double stops), and the destructor closes them all and joins.
class FtpDouble {
public:
    explicit FtpDouble(FtpScript script);
    ~FtpDouble();
    FtpDouble(const FtpDouble&) = delete;
    FtpDouble& operator=(const FtpDouble&) = delete;

    uint16_t Port() const { return m_port; }
    // The command lines received, without CRLF, in order.
    std::vector<std::string> Commands();
    // Serves this script from the next command on (a file replaced between two downloads).
    void SetScript(const FtpScript& script);

private:
    struct Session {
        SOCKET control;
        sockaddr_in data;        // where PORT said to connect for the next transfer
        web::Socket passive;     // where PASV said to connect instead, listening
        uint64_t restart = 0;    // REST's offset, for the next RETR
    };

    void Accept();
    void Serve(SOCKET control);
    FtpScript Script();
    bool Answer(Session& session, const std::string& line);
    bool AnswerMode(Session& session, const std::string& verb, const std::string& argument, const FtpScript& script);
    bool Retrieve(Session& session, const FtpScript& script);
    web::Socket DataConnection(Session& session);
    bool Transfer(Session& session, const std::string& bytes, uint64_t from, uint64_t patternBytes,
                  unsigned char version = 0, bool hold = false);
    bool Silent(const std::string& reply);  // counts the reply: whether the script withholds this one
    bool Hold();                            // waits until the double stops; false, to end the session

    FtpScript m_script;
    web::Socket m_listener;
    uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<unsigned> m_retrs{0};
    std::mutex m_lock;
    std::vector<std::string> m_commands;
    std::map<std::string, unsigned> m_replies;  // how many of each reply Silent was asked about
    std::vector<SOCKET> m_open;  // control sockets of live sessions, closed on stop
    HANDLE m_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);  // what a held transfer waits for
    std::vector<std::thread> m_sessions;
    std::thread m_acceptor;
};

// What most FTP tests script: a login refused or not, the file's size, how much of it RETR sends, and
// which RETR (from 1) keeps its connections open and silent (0: none).
FtpScript ScriptedFile(bool refuseLogin, uint64_t fileSize, uint64_t sendBeforeDrop, unsigned holdAtRetr = 0);
// The file of script, whose reply to `reply` (its nth, counted from 1 over all connections; 0: every one)
// never comes.
FtpScript SilentAt(FtpScript script, const char* reply, unsigned nth);
// The file of script, whose listing's data connection stays open and silent.
FtpScript ListingHeld(FtpScript script);
// The file of script, in active mode only: PASV and EPSV refused.
FtpScript PassiveRefused(FtpScript script);

// The double's file, as a download asks for it.
std::string FtpUrl(const FtpDouble& server);
// How many RETRs the double received: where the downloads stopped.
size_t Retrievals(FtpDouble& server);

}  // namespace tamsel::test
