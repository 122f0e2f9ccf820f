// Proxy credentials a host hands the agent: held in memory only, wiped whenever a copy goes.
#include "web/ProxyCredentials.h"

#include <windows.h>

#include <cwchar>

namespace tamsel::web {
namespace {

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// user:password in UTF-8, the bytes a Basic answer encodes.
SecretText<char> Utf8Pair(const ProxyCredentials& credentials) {
    const SecretText<wchar_t>& user = credentials.User();
    std::vector<wchar_t> pair;
    pair.reserve(user.Size() + 1 + credentials.Password().Size());  // never grown: no old buffer left unwiped
    pair.insert(pair.end(), user.Data(), user.Data() + user.Size());
    pair.push_back(L':');
    const SecretText<wchar_t>& password = credentials.Password();
    pair.insert(pair.end(), password.Data(), password.Data() + password.Size());
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, pair.data(), static_cast<int>(pair.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::vector<char> bytes(size > 0 ? static_cast<size_t>(size) : 0);
    if (size > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, pair.data(), static_cast<int>(pair.size()), bytes.data(), size, nullptr,
                              nullptr);
    }
    SecretText<char> text(bytes.data(), bytes.size());
    ::SecureZeroMemory(pair.data(), pair.size() * sizeof(wchar_t));
    ::SecureZeroMemory(bytes.data(), bytes.size());
    return text;
}

}  // namespace

template <typename Char>
void SecretText<Char>::Wipe() noexcept {
    if (!m_chars.empty()) ::SecureZeroMemory(m_chars.data(), m_chars.size() * sizeof(Char));
    m_chars.clear();
}

template <typename Char>
SecretText<Char> SecretText<Char>::Terminated() const {
    SecretText terminated;
    terminated.m_chars.reserve(m_chars.size() + 1);  // once, so that nothing is left behind by a growth
    terminated.m_chars.assign(m_chars.begin(), m_chars.end());
    terminated.m_chars.push_back(Char());
    return terminated;
}

template class SecretText<char>;
template class SecretText<wchar_t>;

ProxyCredentials::ProxyCredentials(const wchar_t* user, const wchar_t* password) {
    if (user == nullptr || user[0] == L'\0') return;
    m_user = SecretText<wchar_t>(user, std::wcslen(user));
    if (password != nullptr) m_password = SecretText<wchar_t>(password, std::wcslen(password));
}

void ProxyCredentials::Clear() noexcept {
    m_user.Wipe();
    m_password.Wipe();
}

SecretText<char> ProxyCredentials::BasicAnswer() const {
    if (Empty()) return {};
    const SecretText<char> pair = Utf8Pair(*this);
    static const char PREFIX[] = "Proxy-Authorization: Basic ";
    std::vector<char> line(PREFIX, PREFIX + sizeof(PREFIX) - 1);
    line.reserve(line.size() + (pair.Size() + 2) / 3 * 4 + 2);
    const auto* bytes = reinterpret_cast<const unsigned char*>(pair.Data());
    for (size_t i = 0; i < pair.Size(); i += 3) {
        const unsigned value = (bytes[i] << 16) | (i + 1 < pair.Size() ? bytes[i + 1] << 8 : 0) |
                               (i + 2 < pair.Size() ? bytes[i + 2] : 0);
        line.push_back(BASE64[(value >> 18) & 63]);
        line.push_back(BASE64[(value >> 12) & 63]);
        line.push_back(i + 1 < pair.Size() ? BASE64[(value >> 6) & 63] : '=');
        line.push_back(i + 2 < pair.Size() ? BASE64[value & 63] : '=');
    }
    line.push_back('\r');
    line.push_back('\n');
    SecretText<char> answer(line.data(), line.size());
    ::SecureZeroMemory(line.data(), line.size());
    return answer;
}

}  // namespace tamsel::web
