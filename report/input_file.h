#pragma once
// One input file's bytes, read without ever waiting on something that is not a file.

#include <cstddef>
#include <filesystem>
#include <string>

namespace velkaro::report {

enum class InputFault : unsigned char { None, NotAFile, LinkLoop, CannotRead };

/// Reads the regular file at `path` into `buffer`, at most `capacity` bytes (a longer file fills
/// it, so the caller can tell it is too large). The file is opened without blocking and its type
/// is checked on the opened descriptor or handle: a FIFO, device, socket or folder put at the
/// name at any moment is refused (NotAFile), never waited on. `error` says why it failed.
/// `path` is the native name (path.c_str()).
InputFault readInputFile(const std::filesystem::path::value_type* path, char* buffer,
                         size_t capacity, size_t& size, std::string& error);

}  // namespace velkaro::report
