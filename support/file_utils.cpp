#include "support/file_utils.h"

#include <new>

#include "base/platform.h"
#include "logging/logger.h"
#include "support/file_utils_platform.h"

namespace zoka {

namespace {
constexpr wchar_t kModule[] = L"FileUtils";
}

bool removeFileSpec(std::wstring& path) {
    if (path.empty())
        return false;
    std::wstring buffer;
    try {
        buffer = path;
    } catch (const std::bad_alloc&) {
        return false;
    }
    const wchar_t separator = os::pathSeparator();
    while (!buffer.empty() && buffer.back() == separator)
        buffer.pop_back();
    if (!fileplatform::removeLastComponent(buffer)) {
        libraryLog(nullptr, LEVEL_ERROR, kModule, L"Failed to remove file spec error: %d",
                   os::lastError());
        return false;
    }
    path = std::move(buffer);
    return true;
}

bool appendPath(std::wstring& base, const std::wstring& more) {
    if (base.empty() || more.empty())
        return false;
    std::wstring buffer;
    try {
        buffer = base;
    } catch (const std::bad_alloc&) {
        return false;
    }
    bool joined = fileplatform::joinPath(buffer, more);
    base = std::move(buffer);
    return joined;
}

bool ensureFolder(const std::wstring& path) {
    if (os::pathExists(path))
        return os::isDirectory(path);
    int code = fileplatform::createFolderTree(path);
    if (code != 0) {
        libraryLog(nullptr, LEVEL_ERROR, kModule, L"SHCreateDirectoryEx failed. Error: %d", code);
        return false;
    }
    return true;
}

}  // namespace zoka
