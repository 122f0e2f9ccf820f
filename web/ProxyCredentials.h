// Proxy credentials a host hands the agent: held in memory only, wiped whenever a copy goes.
#pragma once

#include <string>
#include <vector>

namespace tamsel::web {

// Characters whose buffer is overwritten before it is given back: never grown in place (a grown
// vector would leave its old buffer unwiped), copied only whole.
template <typename Char>
class SecretText {
public:
    SecretText() = default;
    SecretText(const Char* text, size_t length) : m_chars(text, text + length) {}
    SecretText(const SecretText& other) : m_chars(other.m_chars) {}
    SecretText& operator=(const SecretText& other) {
        if (this != &other) {
            Wipe();
            m_chars = other.m_chars;
        }
        return *this;
    }
    ~SecretText() { Wipe(); }

    void Wipe() noexcept;
    bool Empty() const noexcept { return m_chars.empty(); }
    size_t Size() const noexcept { return m_chars.size(); }
    const Char* Data() const noexcept { return m_chars.data(); }
    // The text with a terminating zero, for a platform call that wants one.
    SecretText Terminated() const;

private:
    std::vector<Char> m_chars;
};

// A user name and password for a proxy's challenge. No user: none held.
class ProxyCredentials {
public:
    ProxyCredentials() = default;
    // user null or empty holds none.
    ProxyCredentials(const wchar_t* user, const wchar_t* password);

    bool Empty() const noexcept { return m_user.Empty(); }
    void Clear() noexcept;
    const SecretText<wchar_t>& User() const noexcept { return m_user; }
    const SecretText<wchar_t>& Password() const noexcept { return m_password; }

    // "Proxy-Authorization: Basic <base64 of user:password in UTF-8>\r\n", the line a Basic challenge
    // is answered with; empty when none are held.
    SecretText<char> BasicAnswer() const;

private:
    SecretText<wchar_t> m_user;
    SecretText<wchar_t> m_password;
};

}  // namespace tamsel::web
