// The password for --proxy-user: from the environment, or typed at the console without echo.
#include "host/ProxyPassword.h"

#include <cwchar>

namespace tamsel::host {
namespace {

constexpr wchar_t PASSWORD_VARIABLE[] = L"TAMSEL_PROXY_PASSWORD";

// The console's input mode with echo off for as long as it lives, restored after.
class EchoOff {
public:
    explicit EchoOff(HANDLE input) noexcept : m_input(input) {
        m_changed = ::GetConsoleMode(input, &m_mode) &&
                    ::SetConsoleMode(input, (m_mode | ENABLE_LINE_INPUT) & ~ENABLE_ECHO_INPUT);
    }
    ~EchoOff() {
        if (m_changed) ::SetConsoleMode(m_input, m_mode);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool Changed() const noexcept { return m_changed; }

private:
    HANDLE m_input;
    DWORD m_mode = 0;
    bool m_changed = false;
};

void WriteToConsole(const wchar_t* text) noexcept {
    DWORD written = 0;
    ::WriteConsoleW(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::wcslen(text)), &written,
                    nullptr);
}

}  // namespace

ProxyPassword::~ProxyPassword() {
    ::SecureZeroMemory(m_text, sizeof(m_text));
}

bool ProxyPassword::Read(const wchar_t* user) noexcept {
    return FromEnvironment() || FromConsole(user);
}

bool ProxyPassword::FromEnvironment() noexcept {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(PASSWORD_VARIABLE, m_text, CAPACITY);
    if (length == 0) {
        return ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;  // set, and empty
    }
    if (length >= CAPACITY) {
        ::SecureZeroMemory(m_text, sizeof(m_text));
        return false;
    }
    return true;
}

// A line from the console, echo off; its line break is not part of the password. A password as long as
// the buffer or longer is refused rather than cut.
bool ProxyPassword::FromConsole(const wchar_t* user) noexcept {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    const EchoOff echoOff(input);
    if (!echoOff.Changed()) {
        return false;  // no console: the password is never read from a pipe or a file
    }
    WriteToConsole(L"proxy password for ");
    WriteToConsole(user);
    WriteToConsole(L": ");
    DWORD read = 0;
    const BOOL done = ::ReadConsoleW(input, m_text, CAPACITY - 1, &read, nullptr);
    WriteToConsole(L"\r\n");
    while (read > 0 && (m_text[read - 1] == L'\n' || m_text[read - 1] == L'\r')) {
        m_text[--read] = L'\0';
    }
    const bool whole = done && read < CAPACITY - 2 && std::wcschr(m_text, L'\n') == nullptr;
    if (!whole) {
        ::SecureZeroMemory(m_text, sizeof(m_text));
    }
    return whole;
}

}  // namespace tamsel::host
