// The password for --proxy-user: from the environment, or typed at the console without echo.
#pragma once

#include <windows.h>

#include <cstddef>

namespace tamsel::host {

// A password held in one fixed buffer, wiped when it goes: it is never copied into a string that could
// leave a copy behind when it grows.
class ProxyPassword {
public:
    ProxyPassword() noexcept = default;
    ~ProxyPassword();
    ProxyPassword(const ProxyPassword&) = delete;
    ProxyPassword& operator=(const ProxyPassword&) = delete;

    // TAMSEL_PROXY_PASSWORD when it is set (empty counts as set), else a line typed at the console with
    // echo off, after a prompt for user on stderr. False when neither is to be had (no such variable and
    // no console), when the input ends before a line does, or when the password is longer than the buffer.
    bool Read(const wchar_t* user) noexcept;

    const wchar_t* get() const noexcept { return m_text; }

    static constexpr size_t CAPACITY = 256;  // characters, the terminating zero included

private:
    bool FromEnvironment() noexcept;
    bool FromConsole(const wchar_t* user) noexcept;

    wchar_t m_text[CAPACITY] = {};
};

}  // namespace tamsel::host
