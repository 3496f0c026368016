#include "sysutil/temp_folder.h"

#include "base/platform.h"
#include "logging/shared_logger.h"
#include "support/file_utils.h"
#include "support/string_utils.h"
#include "sysutil/temp_folder_platform.h"

namespace korr {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";

}  // namespace

bool _utilCreateAndGetTempFolderPath(std::wstring& folderPath) {
    Logger& logger = getSharedLogger();
    // An unreadable temporary folder leaves the bare GUID as the attempted path; it is never
    // created relative to the current folder.
    std::wstring path;
    const bool haveTemp = zoka::os::getTempPath(path);
    if (!haveTemp)
        path.clear();
    std::wstring guid;
    zoka::newGuidString(guid);
    path += guid;

    if (!haveTemp || !detail::createRunFolder(path)) {
        logInfo(logger, kModule, L"Unable to create directoryPath at desired location:%s",
                path.c_str());
        return false;
    }
    folderPath = path;
    return zoka::ensureFolder(folderPath);
}

bool _utilGetTempFilePath(const std::wstring& folder, std::wstring& newFilePath) {
    Logger& logger = getSharedLogger();
    detail::recreateVanishedFolder(folder);
    if (!zoka::ensureFolder(folder))
        return false;

    std::wstring guid;
    zoka::newGuidString(guid);
    std::wstring path = folder;
    // A folder given with its trailing separator gets no second one.
    if (path.empty() || path.back() != zoka::os::pathSeparator())
        path += zoka::os::pathSeparator();
    path += guid;
    logDebug(logger, kModule, L"File being created is :%ls\n", path.c_str());
    newFilePath = path;
    return true;
}

}  // namespace korr
