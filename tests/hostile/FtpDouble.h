// A scripted FTP server inside the test process, for what the loopback server's anonymous one never does:
// refuse a login, drop the connections in the middle of a transfer, or fall silent at any step.
#pragma once

#include "support/TestHandles.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tamsel::hostile {

struct FtpScript {
    bool refuseLogin = false;      // answer 530 to USER and PASS
    uint64_t fileSize = 0;         // what LIST and SIZE announce for any file
    uint64_t sendBeforeDrop = 0;   // RETR sends this many pattern bytes, then closes both connections
    unsigned holdAtRetr = 0;       // the RETR with this number (from 1) keeps both connections open and
                                   // silent until the double stops, instead of closing them; 0: none
    bool holdListing = false;      // LIST sends its listing, then keeps the data connection open and silent
                                   // until the double stops
    const char* silentAt = nullptr;  // a command word, "greeting" (a new connection's 220) or "226" (the end
                                     // of a whole RETR): that reply never comes, the connection held open
                                     // and silent until the double stops
    unsigned silentNth = 0;          // which occurrence of silentAt (from 1, counted over all connections);
                                     // 0: every one
};

// Serves one script on 127.0.0.1 in active mode (PORT), one thread per control connection. Every
// socket waits at most a few seconds (a held transfer waits until the double stops), and the destructor
// closes them all and joins.
class FtpDouble {
public:
    explicit FtpDouble(FtpScript script);
    ~FtpDouble();
    FtpDouble(const FtpDouble&) = delete;
    FtpDouble& operator=(const FtpDouble&) = delete;

    uint16_t Port() const { return m_port; }
    // The command lines received, without CRLF, in order.
    std::vector<std::string> Commands();

private:
    struct Session {
        SOCKET control;
        sockaddr_in data;  // where PORT said to connect for the next transfer
    };

    void Accept();
    void Serve(SOCKET control);
    bool Answer(Session& session, const std::string& line);
    bool Transfer(Session& session, const std::string& bytes, uint64_t patternBytes, bool hold = false);
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

}  // namespace tamsel::hostile
