#pragma once
// The open log file of a target: a Windows HANDLE or a POSIX file descriptor, kept as an
// integer so that no platform header leaks into the logging headers.

#include <cstdint>
#include <utility>

namespace zoka {

/// Owns an open file and closes it on destruction or reset.
class FileHandle {
public:
    static constexpr intptr_t kNone = -1;

    FileHandle() = default;
    explicit FileHandle(intptr_t native) : native_(native) {}
    FileHandle(FileHandle&& other) noexcept : native_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    bool valid() const { return native_ != kNone; }
    intptr_t get() const { return native_; }
    intptr_t release() { return std::exchange(native_, kNone); }
    /// Closes the current file, if any, and takes `native` in its place.
    void reset(intptr_t native = kNone);

private:
    intptr_t native_ = kNone;
};

}  // namespace zoka
