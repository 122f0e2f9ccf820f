// A scripted FTP server inside the test process: refused logins and modes, MDTM or none, transfers cut
// off mid-file, silences, and a file replaced by another of the same size.
#include "support/FtpDouble.h"

#include "support/Testbed.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace tamsel::test {
namespace {

constexpr DWORD SOCKET_WAIT_MS = 10000;

void Bound(SOCKET socket) {
    const DWORD wait = SOCKET_WAIT_MS;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait);
}

bool SendAll(SOCKET socket, const char* data, size_t size) {
    while (size > 0) {
        const int sent = ::send(socket, data, static_cast<int>(std::min<size_t>(size, 1 << 16)), 0);
        if (sent <= 0) return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool Reply(SOCKET socket, const std::string& line) {
    const std::string text = line + "\r\n";
    return SendAll(socket, text.data(), text.size());
}

// One command line without its CRLF; false when the peer left or went quiet.
bool ReadLine(SOCKET socket, std::string& line) {
    line.clear();
    char c = 0;
    while (::recv(socket, &c, 1, 0) == 1) {
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        line += c;
    }
    return false;
}

// "h1,h2,h3,h4,p1,p2" of a PORT command.
bool ParsePort(const std::string& argument, sockaddr_in& address) {
    unsigned v[6];
    if (std::sscanf(argument.c_str(), "%u,%u,%u,%u,%u,%u", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) {
        return false;
    }
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl((v[0] << 24) | (v[1] << 16) | (v[2] << 8) | v[3]);
    address.sin_port = ::htons(static_cast<u_short>((v[4] << 8) | v[5]));
    return true;
}

std::string Listing(uint64_t size) {
    return "-rw-r--r--   1 owner    group    " + std::to_string(size) + " Jan 01 00:00 file.bin\r\n";
}

}  // namespace

FtpDouble::FtpDouble(FtpScript script) : m_script(script) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    m_listener.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (!m_listener || ::bind(m_listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_listener.get(), 8) != 0 ||
        ::getsockname(m_listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "the FTP double cannot listen: " << ::WSAGetLastError();
        return;
    }
    m_port = ::ntohs(address.sin_port);
    m_acceptor = std::thread([this] { Accept(); });
}

FtpDouble::~FtpDouble() {
    m_stopping = true;
    ::SetEvent(m_stopped);
    m_listener.reset();  // ends accept()
    if (m_acceptor.joinable()) m_acceptor.join();
    {
        std::lock_guard<std::mutex> hold(m_lock);
        for (SOCKET socket : m_open) ::shutdown(socket, SD_BOTH);  // ends a session's recv()
    }
    for (std::thread& session : m_sessions) session.join();
    ::CloseHandle(m_stopped);
    ::WSACleanup();
}

std::vector<std::string> FtpDouble::Commands() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_commands;
}

void FtpDouble::SetScript(const FtpScript& script) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_script = script;
}

FtpScript FtpDouble::Script() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_script;
}

void FtpDouble::Accept() {
    while (!m_stopping) {
        const SOCKET control = ::accept(m_listener.get(), nullptr, nullptr);
        if (control == INVALID_SOCKET) return;
        std::lock_guard<std::mutex> hold(m_lock);
        m_open.push_back(control);
        m_sessions.emplace_back([this, control] { Serve(control); });
    }
}

void FtpDouble::Serve(SOCKET control) {
    web::Socket owned(control);
    Bound(control);
    Session session{control, {}, {}, 0};
    std::string line;
    bool open = Silent("greeting") ? Hold() : Reply(control, "220 hostile double");
    while (open && !m_stopping && ReadLine(control, line)) {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_commands.push_back(line);
        }
        open = Answer(session, line);
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_open.erase(std::remove(m_open.begin(), m_open.end(), control), m_open.end());
}

// False ends the session: QUIT, a failed reply, or a transfer that drops everything on purpose.
bool FtpDouble::Answer(Session& session, const std::string& line) {
    const std::string verb = line.substr(0, line.find(' '));
    const std::string argument = line.size() > verb.size() ? line.substr(verb.size() + 1) : std::string();
    const SOCKET control = session.control;
    if (Silent(verb)) return Hold();
    const FtpScript script = Script();
    if (verb == "USER") return Reply(control, script.refuseLogin ? "530 Not for you." : "331 Password, please.");
    if (verb == "PASS") return Reply(control, script.refuseLogin ? "530 Not for you." : "230 Logged in.");
    if (verb == "TYPE" || verb == "MODE" || verb == "STRU") return Reply(control, "200 Fine.");
    if (verb == "PWD") return Reply(control, "257 \"/\" is here.");
    if (verb == "CWD") return Reply(control, "250 There.");
    if (verb == "SIZE") return Reply(control, "213 " + std::to_string(script.fileSize));
    if (verb == "MDTM") return Reply(control, script.mdtm.empty() ? "502 No MDTM here." : "213 " + script.mdtm);
    if (verb == "REST") {
        session.restart = std::strtoull(argument.c_str(), nullptr, 10);
        return Reply(control, "350 Restarting at " + std::to_string(session.restart) + ".");
    }
    if (verb == "QUIT") {
        Reply(control, "221 Bye.");
        return false;
    }
    if (verb == "PORT" || verb == "PASV" || verb == "EPSV") return AnswerMode(session, verb, argument, script);
    if (verb == "LIST" || verb == "NLST") {
        return Reply(control, "150 Listing.") &&
               Transfer(session, Listing(script.fileSize), 0, 0, 0, script.holdListing) &&
               Reply(control, "226 Listed.");
    }
    if (verb == "RETR") return Retrieve(session, script);
    return Reply(control, "502 Not here.");
}

// PORT names where to connect for the next transfer; PASV opens a port to be connected to instead.
bool FtpDouble::AnswerMode(Session& session, const std::string& verb, const std::string& argument,
                           const FtpScript& script) {
    const SOCKET control = session.control;
    if (verb == "PORT") {
        if (script.refuseActive) return Reply(control, "500 No active mode here.");
        session.passive.reset();
        return Reply(control, ParsePort(argument, session.data) ? "200 PORT taken." : "501 Bad PORT.");
    }
    if (script.refusePassive || verb == "EPSV") return Reply(control, "502 No passive mode here.");
    session.passive.reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (!session.passive || ::bind(session.passive.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(session.passive.get(), 1) != 0 ||
        ::getsockname(session.passive.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return Reply(control, "425 No data port.");
    }
    const unsigned port = ::ntohs(address.sin_port);
    return Reply(control, "227 Entering Passive Mode (127,0,0,1," + std::to_string(port >> 8) + "," +
                              std::to_string(port & 0xFF) + ").");
}

// The file from REST's offset, whole or cut as the script says.
bool FtpDouble::Retrieve(Session& session, const FtpScript& script) {
    const uint64_t from = std::min(std::exchange(session.restart, 0), script.fileSize);
    const bool whole = script.sendBeforeDrop >= script.fileSize;
    const uint64_t end = whole ? script.fileSize : std::max(from, script.sendBeforeDrop);
    const bool hold = !whole && ++m_retrs == script.holdAtRetr;
    if (!Reply(session.control, "150 Sending.")) return false;
    const bool sent = Transfer(session, {}, from, end - from, script.version, hold);
    if (!whole) return false;  // a drop ends the session without a word
    // A server that never gives its last word holds its peace whether or not the client read every byte:
    // a client that closed the data connection early (a look does) would otherwise, on a slow machine, end
    // the session before that silence was ever met.
    if (Silent("226")) return Hold();
    return sent && Reply(session.control, "226 Sent.");
}

bool FtpDouble::Silent(const std::string& reply) {
    std::lock_guard<std::mutex> hold(m_lock);
    const unsigned count = ++m_replies[reply];
    return m_script.silentAt != nullptr && reply == m_script.silentAt &&
           (m_script.silentNth == 0 || count == m_script.silentNth);
}

bool FtpDouble::Hold() {
    ::WaitForSingleObject(m_stopped, INFINITE);
    return false;
}

// The next transfer's connection: accepted on PASV's port, or made to where PORT said.
web::Socket FtpDouble::DataConnection(Session& session) {
    if (session.passive) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(session.passive.get(), &ready);
        timeval wait{static_cast<long>(SOCKET_WAIT_MS / 1000), 0};
        web::Socket data;
        if (::select(0, &ready, nullptr, nullptr, &wait) == 1) {
            data.reset(::accept(session.passive.get(), nullptr, nullptr));
        }
        session.passive.reset();
        return data;
    }
    web::Socket data(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (data && ::connect(data.get(), reinterpret_cast<const sockaddr*>(&session.data), sizeof(session.data)) != 0) {
        data.reset();
    }
    return data;
}

// Sends text and then patternBytes of the pattern from offset from (XOR version) on the data connection,
// and closes it; with hold, only once the double stops.
bool FtpDouble::Transfer(Session& session, const std::string& text, uint64_t from, uint64_t patternBytes,
                         unsigned char version, bool hold) {
    web::Socket data = DataConnection(session);
    if (!data) return false;
    Bound(data.get());
    if (!SendAll(data.get(), text.data(), text.size())) return false;
    std::string block(251 * 256, '\0');
    while (patternBytes > 0) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(patternBytes, block.size()));
        for (size_t i = 0; i < piece; ++i) block[i] = static_cast<char>(testbed::PatternByte(from + i) ^ version);
        if (!SendAll(data.get(), block.data(), piece)) return false;
        from += piece;
        patternBytes -= piece;
    }
    if (hold) ::WaitForSingleObject(m_stopped, INFINITE);
    return true;
}

FtpScript ScriptedFile(bool refuseLogin, uint64_t fileSize, uint64_t sendBeforeDrop, unsigned holdAtRetr) {
    FtpScript script;
    script.refuseLogin = refuseLogin;
    script.fileSize = fileSize;
    script.sendBeforeDrop = sendBeforeDrop;
    script.holdAtRetr = holdAtRetr;
    return script;
}

FtpScript SilentAt(FtpScript script, const char* reply, unsigned nth) {
    script.silentAt = reply;
    script.silentNth = nth;
    return script;
}

FtpScript ListingHeld(FtpScript script) {
    script.holdListing = true;
    return script;
}

FtpScript PassiveRefused(FtpScript script) {
    script.refusePassive = true;
    return script;
}

std::string FtpUrl(const FtpDouble& server) {
    return "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/file.bin";
}

size_t Retrievals(FtpDouble& server) {
    size_t count = 0;
    for (const std::string& command : server.Commands()) count += command.rfind("RETR", 0) == 0 ? 1 : 0;
    return count;
}

}  // namespace tamsel::test
