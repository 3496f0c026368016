#include <windows.h>

#include <shlobj.h>

#include "sysutil/temp_folder_platform.h"

namespace korr::detail {

bool createRunFolder(const std::wstring& path) {
    const int rc = ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_EXISTS || rc == ERROR_ALREADY_EXISTS;
}

void recreateVanishedFolder(const std::wstring&) {}

}  // namespace korr::detail
