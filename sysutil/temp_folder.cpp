#include "sysutil/temp_folder.h"

#include <cwctype>
#include <sstream>

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/shared_logger.h"
#include "support/file_utils.h"
#include "support/string_utils.h"
#include "sysutil/temp_folder_platform.h"

namespace korr {
namespace {

constexpr wchar_t kModule[] = L"KorrUtilities";
// Names the process that owns a run folder, so that a later run can tell a folder left by a
// killed run from one still in use.
constexpr wchar_t kMarkerName[] = L"Velkaro.owner";
constexpr char kMarkerWord[] = "Velkaro";

std::string markerText() {
    const unsigned long pid = detail::currentProcessId();
    uint64_t start = 0;
    if (!detail::processStartTime(pid, start))
        return std::string();
    return std::string(kMarkerWord) + " " + std::to_string(pid) + " " + std::to_string(start) +
           "\n";
}

bool parseMarker(const std::string& text, unsigned long& pid, uint64_t& start) {
    std::istringstream in(text);
    std::string word;
    unsigned long long id = 0;
    unsigned long long time = 0;
    if (!(in >> word >> id >> time) || word != kMarkerWord || id == 0)
        return false;
    std::string rest;
    if (in >> rest)
        return false;
    pid = static_cast<unsigned long>(id);
    start = time;
    return true;
}

// The name every run folder has: a 38-character registry-form GUID.
bool isRunFolderName(const std::wstring& name) {
    if (name.size() != 38 || name.front() != L'{' || name.back() != L'}')
        return false;
    for (size_t i = 1; i < 37; ++i) {
        const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash != (name[i] == L'-') || (!dash && !std::iswxdigit(name[i])))
            return false;
    }
    return true;
}

std::wstring withoutTrailingSeparator(std::wstring path) {
    while (path.size() > 1 && path.back() == zoka::os::pathSeparator())
        path.pop_back();
    return path;
}

// A run folder that could not be removed keeps its marker, or gets it back when it went before
// the folder refused to go, so that the next run finds the folder again.
void keepMarker(const std::wstring& path, const std::string& marker) {
    if (!marker.empty() && !detail::isGone(path))
        zoka::writeTextFile(path + zoka::os::pathSeparator() + kMarkerName, zoka::fromUtf8(marker));
}

// Everything but the marker goes first, read-only entries too (they are the user's own); the
// marker goes last, so that a folder that cannot be emptied is found again by the next run.
bool removeStaleFolder(const std::wstring& path, const std::string& marker,
                       std::wstring& failedPath) {
    for (const std::wstring& name : detail::entryNames(path)) {
        if (name == kMarkerName)
            continue;
        const std::wstring entry = path + zoka::os::pathSeparator() + name;
        std::wstring failed = entry;
        const bool gone = zoka::os::isDirectory(entry)
                              ? zoka::deleteDirectory(entry, failed, true, true, nullptr, false)
                              : zoka::deleteFile(entry, true, nullptr);
        if (!gone && failedPath.empty())
            failedPath = failed;
    }
    if (!failedPath.empty())
        return false;
    if (zoka::deleteDirectory(path, failedPath, true, true, nullptr, false))
        return true;
    if (failedPath.empty())
        failedPath = path;
    keepMarker(path, marker);
    return false;
}

}  // namespace

RunFolder::RunFolder() = default;

RunFolder::~RunFolder() {
    std::wstring failed;
    remove(failed);
}

bool RunFolder::create() {
    Logger& logger = getSharedLogger();
    // An unreadable temporary folder leaves the bare GUID as the attempted path; it is never
    // created relative to the current folder.
    std::wstring temp;
    const bool haveTemp = zoka::os::getTempPath(temp);
    if (!haveTemp)
        temp.clear();
    std::wstring guid;
    zoka::newGuidString(guid);
    detail::HeldFolderPtr held;
    const std::string marker = markerText();
    if (haveTemp && !marker.empty())
        held = detail::createHeldFolder(temp, guid);
    if (held && !detail::writeNewFile(*held, kMarkerName, marker)) {
        std::wstring failed;
        const std::wstring made = temp + guid;
        detail::release(held);
        zoka::deleteDirectory(made, failed, true, false, nullptr, false);
    }
    if (!held) {
        logInfo(logger, kModule, L"Unable to create directoryPath at desired location:%s",
                (temp + guid).c_str());
        return false;
    }
    path_ = temp + guid;
    held_ = std::move(held);
    return true;
}

bool RunFolder::newFile(std::wstring& newFilePath) {
    if (!held_)
        return false;
    // A folder deleted under the run is made afresh under its name, exclusively; one that was
    // replaced is never written into.
    if (detail::isGone(path_)) {
        const size_t cut = path_.find_last_of(zoka::os::pathSeparator());
        detail::HeldFolderPtr again =
            detail::createHeldFolder(path_.substr(0, cut + 1), path_.substr(cut + 1));
        if (!again || !detail::writeNewFile(*again, kMarkerName, markerText()))
            return false;
        held_ = std::move(again);
    }
    if (!stillInPlace())
        return false;
    std::wstring guid;
    zoka::newGuidString(guid);
    if (!detail::writeNewFile(*held_, guid, std::string()))
        return false;
    newFilePath = path_ + zoka::os::pathSeparator() + guid;
    logDebug(getSharedLogger(), kModule, L"File being created is :%ls\n", newFilePath.c_str());
    return true;
}

bool RunFolder::stillInPlace() const {
    return held_ && detail::leadsTo(*held_, path_);
}

bool RunFolder::displaced() const {
    return held_ && !detail::isGone(path_) && !detail::leadsTo(*held_, path_);
}

bool RunFolder::remove(std::wstring& failedPath) {
    if (!held_)
        return true;
    // A folder put in its place by someone else is theirs: nothing in it is touched.
    if (!stillInPlace()) {
        held_.reset();
        failedPath = path_;
        return false;
    }
    detail::release(held_);
    if (zoka::deleteDirectory(path_, failedPath, true, false, nullptr, true))
        return true;
    keepMarker(path_, markerText());
    return false;
}

std::vector<StaleRunFolder> removeStaleRunFolders() {
    std::vector<StaleRunFolder> found;
    std::wstring temp;
    if (!zoka::os::getTempPath(temp))
        return found;
    const std::wstring folder = withoutTrailingSeparator(temp);
    for (const std::wstring& name : detail::ownFolders(folder)) {
        if (!isRunFolderName(name))
            continue;
        const std::wstring path = folder + zoka::os::pathSeparator() + name;
        std::string text;
        unsigned long pid = 0;
        uint64_t start = 0;
        if (!detail::readOwnFile(path, kMarkerName, 256, text) || !parseMarker(text, pid, start))
            continue;
        uint64_t running = 0;
        if (detail::processStartTime(pid, running) && running == start)
            continue;  // its owner still runs
        StaleRunFolder stale{path, pid, false, std::wstring()};
        stale.removed = removeStaleFolder(path, text, stale.failedPath);
        found.push_back(stale);
    }
    return found;
}

}  // namespace korr
