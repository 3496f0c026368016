#pragma once
// An output of the report, written whole or not at all.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>

namespace velkaro::report {

/// Why `target` cannot be an output: it names a device, FIFO, socket, folder or link. Empty
/// when it is a regular file or nothing.
std::string outputRefusal(const std::filesystem::path& target);

/// Writes to a fresh temporary file beside the target (same folder, so the rename stays on one
/// volume); commit() flushes it and renames it over the target. Whatever fails, only the
/// temporary file is removed: a path the report did not create is never deleted.
class OutputFile {
public:
    OutputFile();
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    /// False with `error` when the target is refused or the temporary file cannot be made.
    bool open(const std::filesystem::path& target, std::string& error);
    std::ostream& stream();
    /// False with `error` when a write, the flush or the rename failed (the target untouched).
    bool commit(std::string& error);

private:
    class Buffer;
    void discard();

    std::filesystem::path target_, temp_;
    intptr_t handle_ = -1;  ///< owned: closed by commit() or the destructor
    std::unique_ptr<Buffer> buffer_;
    std::unique_ptr<std::ostream> stream_;
};

/// Writes `bytes` to `target` whole or not at all; false with `error`.
bool writeOutput(const std::filesystem::path& target, std::string_view bytes, std::string& error);

}  // namespace velkaro::report
