// Registry content as text, for comparing what registration wrote with what it should have written.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tamsel::module::test {

// Every key and value under root\path, one line each, sorted: "path" for a key, "path\@=text" for a
// default value and "path\name=text" for a named one (non-string values show their type). Empty when
// the key does not exist.
std::wstring DumpKey(HKEY root, const std::wstring& path);
// The same lines, unsorted.
std::vector<std::wstring> KeyLines(HKEY root, const std::wstring& path);
bool KeyExists(HKEY root, const std::wstring& path);
// The key's default string value, or an empty string.
std::wstring DefaultValue(HKEY root, const std::wstring& path);
// Lines in the order DumpKey gives them.
std::wstring SortedLines(std::vector<std::wstring> lines);
// The registry form of a GUID: braces, upper case, 8-4-4-4-12.
std::wstring RegistryForm(const GUID& guid);

}  // namespace tamsel::module::test
