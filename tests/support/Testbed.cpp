// The loopback test server's control client: one plain Winsock connection per call to /__testbed/.
#include "support/Testbed.h"

#include "support/TestHandles.h"

#include <cstdlib>
#include <memory>

namespace tamsel::testbed {
namespace {

constexpr DWORD CONTROL_TIMEOUT_MS = 30000;

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

web::Socket Connect(uint16_t port) {
    web::Socket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) {
        return socket;
    }
    // A control call never waits long: a bound keeps a wedged server from hanging the test.
    const DWORD timeout = CONTROL_TIMEOUT_MS;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        socket.reset();
    }
    return socket;
}

bool SendAll(SOCKET socket, const std::string& data) {
    for (size_t sent = 0; sent < data.size();) {
        const int count = ::send(socket, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (count <= 0) {
            return false;
        }
        sent += static_cast<size_t>(count);
    }
    return true;
}

// Control replies end with the connection.
bool ReceiveAll(SOCKET socket, std::string* data) {
    char buffer[65536];
    for (;;) {
        const int count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count == 0) {
            return true;
        }
        if (count < 0) {
            return false;
        }
        data->append(buffer, static_cast<size_t>(count));
    }
}

// Status and body of a control reply; false when it is cut short.
bool ParseReply(const std::string& reply, int* status, std::string* body) {
    const size_t headEnd = reply.find("\r\n\r\n");
    const size_t lengthAt = reply.find("\r\nContent-Length: ");
    if (reply.compare(0, 9, "HTTP/1.1 ") != 0 || headEnd == std::string::npos || lengthAt > headEnd) {
        return false;
    }
    *status = std::atoi(reply.c_str() + 9);
    *body = reply.substr(headEnd + 4);
    return std::strtoull(reply.c_str() + lengthAt + 18, nullptr, 10) == body->size();
}

// Wine maps every DOS path to the Unix one that the server can open.
std::string UnixPath(const std::string& windowsPath) {
    using ToUnix = char*(CDECL*)(const WCHAR*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix == nullptr) {
        return {};
    }
    std::wstring wide(windowsPath.size() + 1, L'\0');
    const int length = ::MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(),
                                             static_cast<int>(wide.size()));
    if (length == 0) {
        return {};
    }
    auto freeHeap = [](char* p) { ::HeapFree(::GetProcessHeap(), 0, p); };
    std::unique_ptr<char, decltype(freeHeap)> unixPath(toUnix(wide.c_str()), freeHeap);
    return unixPath ? std::string(unixPath.get()) : std::string();
}

}  // namespace

std::string EncodeField(const std::string& name, const std::string& value) {
    return name + ' ' + std::to_string(value.size()) + '\n' + value + '\n';
}

bool DecodeFields(const std::string& text, std::vector<std::pair<std::string, std::string>>* fields) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t space = text.find(' ', pos);
        const size_t newline = text.find('\n', space);
        if (space == std::string::npos || newline == std::string::npos) {
            return false;
        }
        const size_t length = std::strtoull(text.c_str() + space + 1, nullptr, 10);
        const size_t start = newline + 1;
        if (length >= text.size() - start || text[start + length] != '\n') {
            return false;
        }
        fields->emplace_back(text.substr(pos, space - pos), text.substr(start, length));
        pos = start + length + 1;
    }
    return true;
}

Route::Route(std::string target, std::string host) {
    Add("host", host);
    Add("target", target);
}

Route& Route::Add(const char* name, const std::string& value) {
    m_fields += EncodeField(name, value);
    return *this;
}

Route& Route::Method(const std::string& verb) { return Add("method", verb); }
Route& Route::Times(unsigned count) { return Add("times", std::to_string(count)); }
Route& Route::Version(const std::string& text) { return Add("version", text); }
Route& Route::Header(const std::string& line) { return Add("header", line); }
Route& Route::Body(const std::string& bytes) { return Add("body", bytes); }
Route& Route::Generated(uint64_t size) { return Add("generate", std::to_string(size)); }
Route& Route::ContentLength(uint64_t declared) { return Add("content-length", std::to_string(declared)); }
Route& Route::NoContentLength() { return Add("content-length", "none"); }
Route& Route::DelayMs(unsigned milliseconds) { return Add("delay", std::to_string(milliseconds)); }
Route& Route::NeverAnswer() { return Add("delay", "never"); }
Route& Route::StallAfter(uint64_t bodyBytes) { return Add("stall-after", std::to_string(bodyBytes)); }
Route& Route::CloseAfter(uint64_t bodyBytes) { return Add("close-after", std::to_string(bodyBytes)); }
Route& Route::Ranges() { return Add("ranges", "1"); }
Route& Route::RangesIgnoringIfRange() { return Add("ranges", "any"); }
Route& Route::RangesOfUnknownWhole() { return Add("ranges", "no-whole"); }
Route& Route::Trickle(unsigned bytes, unsigned everyMs) {
    return Add("trickle", std::to_string(bytes) + " " + std::to_string(everyMs));
}
Route& Route::FlipByte(uint64_t offset) { return Add("flip", std::to_string(offset)); }
Route& Route::Rate(uint64_t bytesPerSecond) { return Add("rate", std::to_string(bytesPerSecond)); }
Route& Route::Slices(const std::string& how) { return Add("slices", how); }
Route& Route::Raw(const std::string& bytes) { return Add("raw", bytes); }
Route& Route::CloseWithoutAnswer() { return Add("raw", ""); }
Route& Route::CloseConnection() { return Add("close", "1"); }

Route& Route::Status(int code, const std::string& reason) {
    Add("status", std::to_string(code));
    return reason.empty() ? *this : Add("reason", reason);
}

std::string RecordedRequest::RequestLine() const {
    return raw.substr(0, raw.find("\r\n"));
}

std::vector<std::string> RecordedRequest::HeaderLines() const {
    std::vector<std::string> lines;
    const size_t headEnd = raw.find("\r\n\r\n");
    size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos < headEnd) {
        const size_t next = raw.find("\r\n", pos + 2);
        lines.push_back(raw.substr(pos + 2, next - pos - 2));
        pos = next;
    }
    return lines;
}

std::string RecordedRequest::Body() const {
    const size_t headEnd = raw.find("\r\n\r\n");
    return headEnd == std::string::npos ? std::string() : raw.substr(headEnd + 4);
}

Testbed::Testbed() {
    const char* port = std::getenv("TAMSEL_TESTBED_PORT");
    m_port = port != nullptr ? static_cast<uint16_t>(std::atoi(port)) : 0;
}

bool Testbed::Call(const char* verb, const std::string& command, const std::string& body, std::string* reply) {
    if (!Ready() || !StartWinsock()) {
        ADD_FAILURE() << "no test server: run this test through testbed/with-testbed.sh";
        return false;
    }
    web::Socket socket = Connect(m_port);
    const std::string request = std::string(verb) + " /__testbed/" + command + " HTTP/1.1\r\nHost: testbed\r\n" +
                                "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                body;
    std::string received;
    int status = 0;
    if (!socket || !SendAll(socket.get(), request) || !ReceiveAll(socket.get(), &received) ||
        !ParseReply(received, &status, reply)) {
        ADD_FAILURE() << "test server: no whole reply to " << command;
        return false;
    }
    if (status != 200) {
        ADD_FAILURE() << "test server refused " << command << " (" << status << "): " << *reply;
        return false;
    }
    return true;
}

bool Testbed::Reset() {
    std::string reply;
    return Call("POST", "reset", {}, &reply);
}

bool Testbed::Add(const Route& route) {
    std::string reply;
    return Call("POST", "route", route.Encoded(), &reply);
}

std::vector<RecordedRequest> Testbed::Requests() {
    std::string reply;
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<RecordedRequest> requests;
    if (!Call("GET", "requests", {}, &reply)) {
        return requests;
    }
    if (!DecodeFields(reply, &fields) || fields.size() % 5 != 0) {
        ADD_FAILURE() << "test server: malformed request log";
        return requests;
    }
    for (size_t i = 0; i < fields.size(); i += 5) {
        requests.push_back({fields[i].second, fields[i + 1].second, fields[i + 2].second, fields[i + 3].second,
                            std::atoi(fields[i + 4].second.c_str())});
    }
    return requests;
}

std::vector<RecordedRequest> Testbed::Requests(const std::string& channel) {
    std::vector<RecordedRequest> chosen;
    for (RecordedRequest& request : Requests()) {
        if (request.channel == channel) {
            chosen.push_back(std::move(request));
        }
    }
    return chosen;
}

uint16_t Testbed::StartFtp(const std::string& windowsFolder) {
    const std::string root = UnixPath(windowsFolder);
    if (root.empty()) {
        ADD_FAILURE() << "no Unix path for " << windowsFolder << " (not under Wine?)";
        return 0;
    }
    std::string reply;
    std::vector<std::pair<std::string, std::string>> fields;
    if (!Call("POST", "ftp/start", EncodeField("root", root), &reply) || !DecodeFields(reply, &fields) ||
        fields.size() != 1 || fields[0].first != "port") {
        return 0;
    }
    return static_cast<uint16_t>(std::atoi(fields[0].second.c_str()));
}

bool Testbed::Symlink(const std::string& link, const std::string& target) {
    const std::string unixLink = UnixPath(link);
    const std::string unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty()) {
        ADD_FAILURE() << "no Unix path for " << link << " or " << target << " (not under Wine?)";
        return false;
    }
    std::string reply;
    return Call("POST", "symlink", EncodeField("link", unixLink) + EncodeField("target", unixTarget), &reply);
}

bool Testbed::Unlink(const std::string& link) {
    const std::string unixLink = UnixPath(link);
    std::string reply;
    return !unixLink.empty() && Call("POST", "unlink", EncodeField("link", unixLink), &reply);
}

bool Testbed::RequireProxyAuth(const std::string& user, const std::string& password) {
    std::string reply;
    return Call("POST", "proxy-auth", EncodeField("user", user) + EncodeField("password", password), &reply);
}

bool Testbed::StopFtp() {
    std::string reply;
    return Call("POST", "ftp/stop", {}, &reply);
}

void TestbedTest::SetUp() {
    ASSERT_TRUE(loopback.Reset()) << "the loopback test server is not reachable";
}

}  // namespace tamsel::testbed
