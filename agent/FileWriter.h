// The download's target file, opened only once the reply is known to be a success.
#pragma once

#include "web/BodyConsumer.h"
#include "base/Handle.h"

#include <string>

namespace tamsel::agent {

class FileWriter final : public web::BodyConsumer {
public:
    explicit FileWriter(const char* path) noexcept : m_path(path) {}

    // Declines any status but 200 without touching the file; on 200 creates the file, or else
    // empties an existing one that is not read-only. Declines when neither works, so nothing is
    // downloaded for nothing.
    bool Start(int32_t status) override;

    // Writes the bytes whole; a short write counts as a failure.
    bool Write(const char* data, size_t size) override;

    // Closes the file; false when it was never opened or closing failed.
    bool Finish() noexcept;

private:
    const char* m_path;
    FileHandle m_file;
};

}  // namespace tamsel::agent
