// Files as the tests see them: a scratch folder of the test's own, and reading, writing and sizing files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tamsel::test {

bool Exists(const std::string& path);
// The size of the file at path, or -1 when there is none.
int64_t SizeOf(const std::string& path);
// The whole file, or "<missing>" when it cannot be opened.
std::string Contents(const std::string& path);
// Creates or truncates path and writes bytes; false unless every byte was written.
bool WriteWhole(const std::string& path, const std::string& bytes);
// An ASCII path (the scratch folder's are) as the later interfaces take paths.
std::wstring Wide(const std::string& ascii);

// A fresh folder under the prefix's temp folder. At scope exit every file in it is deleted, read-only
// ones too, and then the folder; a subfolder a test made is its own to remove.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    // The path of name inside the folder; nothing is made.
    std::string File(const std::string& name) const { return path + "\\" + name; }
    // Writes bytes to name inside the folder, failing the test when it cannot; answers the full path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    // Every name in the folder, hidden ones too, sorted: what a test left there, or found there.
    std::vector<std::string> Names() const;

    std::string path;
};

}  // namespace tamsel::test
