#pragma once
// The platform half of output_file.cpp: one native file handle as an integer, owned by
// OutputFile.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace velkaro::report::platform {

inline constexpr intptr_t kNoHandle = -1;

/// See outputRefusal().
std::string outputRefusal(const std::filesystem::path& target);
/// Creates `temp` exclusively (never following a link); kNoHandle with `error` on failure.
intptr_t createOutput(const std::filesystem::path& temp, std::string& error);
bool writeOutput(intptr_t handle, const char* data, size_t size, std::string& error);
/// Flushes to disk and closes; the handle is closed whatever the result.
bool closeOutput(intptr_t handle, bool flush, std::string& error);
/// Renames `temp` over `target` after checking the target again.
bool replaceOutput(const std::filesystem::path& temp, const std::filesystem::path& target,
                   std::string& error);
void removeOutput(const std::filesystem::path& temp);

}  // namespace velkaro::report::platform
