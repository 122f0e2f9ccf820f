// The automation members' arguments read once, before anything looks at them, and their answers made
// into platform strings: the one reading of a text, an expected size and a list of sources.
#pragma once

#include "automation/ErrorInfo.h"
#include "web/ProxyCredentials.h"

#include <oaidl.h>

#include <optional>
#include <string>
#include <vector>

namespace tamsel::automation {

// Reads a text argument named name. A NUL inside it is refused: a BSTR is counted, but the operations, the
// file system and the platform's number reading stop at its first NUL and would act on a shorter text than
// the caller gave (a path "C:\dl\av" & Chr(0) & ".exe" would write C:\dl\av). Into a
// std::string goes a text that is sent (URLs, serial, language, type, code, digest), which must be
// printable ASCII; into a std::wstring a path or a number given as text, as it is; into a SecretText a
// credential, so that no copy of it is left unwiped. A null BSTR is the empty text.
std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, std::string& out);
std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, std::wstring& out);
std::optional<Outcome> ReadText(BSTR text, const wchar_t* name, web::SecretText<wchar_t>& out);
// The same for a part of an argument (a line of a list of sources): length characters at text.
std::optional<Outcome> ReadText(const wchar_t* text, size_t length, const wchar_t* name, std::string& out);

std::optional<Outcome> NotEmpty(const std::string& text, const wchar_t* name);

// expectedSize: missing or Empty means no check (-1); otherwise a whole number of bytes, as exact numbers
// or text that reads as one.
std::optional<Outcome> ToExpectedSize(const VARIANT& argument, LONGLONG& size);

// What a download writes: the path (UTF-16, as given), the size expected (-1: any) and the digest to
// prove (64 hexadecimal digits; empty: none).
struct FileArguments {
    std::wstring path;
    LONGLONG expectedSize = -1;
    std::string sha256;
};

std::optional<Outcome> ReadFileArguments(BSTR path, const VARIANT& expectedSize, BSTR sha256, FileArguments& out);

// The most sources DownloadFrom takes: the download URL and the 8 mirrors a reply may name.
constexpr size_t MAX_SCRIPT_SOURCES = 9;

// DownloadFrom's sources: a string of one URL or of several separated by line breaks (CR, LF or CRLF; one
// at the end is no empty URL), an array of strings (of VARIANTs holding strings, as VBScript's Array()
// makes, or of strings), or a script's array object read through its length and its members "0", "1", ...
// Each a non-empty URL read as ReadText reads a sent text; 1 to MAX_SCRIPT_SOURCES of them.
std::optional<Outcome> ReadSources(const VARIANT& sources, std::vector<std::string>& out);

// The service's 8-bit text, byte by byte: each byte the character of that number.
HRESULT NewString(const std::string& text, BSTR* out);
// An array of strings as scripts read one: a SAFEARRAY of VARIANTs holding BSTRs, in a VARIANT.
HRESULT NewStringArray(const std::vector<std::string>& texts, VARIANT* out);

}  // namespace tamsel::automation
