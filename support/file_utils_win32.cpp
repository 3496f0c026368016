// File utilities over the Windows shell, path and file interfaces.

#include <windows.h>
// windows.h first: the shell headers depend on it.
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/win32_handle.h"
#include "logging/logger.h"
#include "support/file_utils.h"
#include "support/file_utils_platform.h"
#include "support/string_utils.h"

namespace zoka {

namespace {

constexpr wchar_t kModule[] = L"FileUtils";

/// Owns a search handle of FindFirstFileW (FindClose).
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : handle_(h) {}
    ~FindHandle() {
        if (valid())
            ::FindClose(handle_);
    }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

/// Clears the read-only attribute of `path` when it is set, after logging `format` (%s the path,
/// %d the attributes); true when it was set.
bool clearReadOnly(const std::wstring& path, const wchar_t* format, AbstractLogger* logger) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    libraryLog(logger, LEVEL_DEBUG, kModule, format, path.c_str(), static_cast<int>(attributes));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

}  // namespace

namespace fileplatform {

bool removeLastComponent(std::wstring& path) {
    std::vector<wchar_t> buffer(path.begin(), path.end());
    buffer.push_back(L'\0');
    if (!::PathRemoveFileSpecW(buffer.data()))
        return false;
    path = buffer.data();
    return true;
}

bool joinPath(std::wstring& base, const std::wstring& more) {
    try {
        // PathAppendW may use a whole MAX_PATH buffer whatever the lengths it is given.
        size_t size = base.size() + more.size() + 11;
        std::vector<wchar_t> buffer(size < MAX_PATH ? MAX_PATH : size, L'\0');
        std::copy(base.begin(), base.end(), buffer.begin());
        BOOL joined = ::PathAppendW(buffer.data(), more.c_str());
        base = buffer.data();
        return joined == TRUE;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int createFolderTree(const std::wstring& path) {
    return ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

}  // namespace fileplatform

bool getMakerCommonFilesFolder(std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES_COMMON, FALSE))
        return false;
    // A folder too long for the suffix is refused rather than cut short.
    constexpr wchar_t kSuffix[] = L"\\Quenda";
    if (std::wcslen(buffer) + std::wcslen(kSuffix) >= MAX_PATH)
        return false;
    std::wcscat(buffer, kSuffix);
    path = buffer;
    return true;
}

bool getMakerProductFolder(std::wstring& path) {
    wchar_t buffer[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_PROGRAM_FILES, FALSE))
        return false;
    path = buffer;
    path += L"\\Quenda\\Quenda Loomwork";
    return true;
}

bool deleteFile(const std::wstring& path, bool removeReadOnly, AbstractLogger* logger) {
    if (!::PathFileExistsW(path.c_str()))
        return true;
    if (::DeleteFileW(path.c_str()))
        return true;
    DWORD error = ::GetLastError();
    if (removeReadOnly && error == ERROR_ACCESS_DENIED &&
        clearReadOnly(path,
                      L"File '%s' is with read-only. Its attribute is: '%d'. UnSetting its "
                      L"read-only attr and retry deleting",
                      logger)) {
        if (::DeleteFileW(path.c_str()))
            return true;
        error = ::GetLastError();
    }
    libraryLog(logger, LEVEL_ERROR, kModule, L"Failed to delete file: '%s' LastError:%d",
               path.c_str(), static_cast<int>(error));
    ::SetLastError(error);
    return false;
}

bool deleteDirectory(const std::wstring& path, std::wstring& failedPath, bool recursive,
                     bool removeReadOnly, AbstractLogger* logger, bool logSuccess) {
    if (!::PathIsDirectoryW(path.c_str())) {
        libraryLog(logger, LEVEL_WARN, kModule, L"Directory to delete not present at location '%s'",
                   path.c_str());
        return false;
    }
    // A junction or folder link is removed as a link: what it points to is never emptied.
    DWORD own = ::GetFileAttributesW(path.c_str());
    bool isLink = own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT);
    if (recursive && !isLink) {
        std::wstring pattern = path;
        appendPath(pattern, L"*");
        WIN32_FIND_DATAW entry;
        FindHandle search(::FindFirstFileW(pattern.c_str(), &entry));
        if (search.valid()) {
            do {
                if (::lstrcmpW(entry.cFileName, L".") == 0 ||
                    ::lstrcmpW(entry.cFileName, L"..") == 0)
                    continue;
                std::wstring child = path;
                appendPath(child, entry.cFileName);
                const DWORD attributes = entry.dwFileAttributes;
                if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                    // A link goes as a link, dangling or not: deleteFile would take a dangling
                    // one for a missing file and leave it, and the folder with it.
                    const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                                             ? ::RemoveDirectoryW(child.c_str())
                                             : ::DeleteFileW(child.c_str());
                    if (!removed) {
                        libraryLog(logger, LEVEL_ERROR, kModule,
                                   L"Failed to delete file: '%s' LastError:%d", child.c_str(),
                                   static_cast<int>(::GetLastError()));
                        failedPath = child;
                    }
                } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
                    deleteDirectory(child, failedPath, recursive, removeReadOnly, logger, false);
                } else if (!deleteFile(child, removeReadOnly, logger)) {
                    failedPath = child;
                }
            } while (::FindNextFileW(search.get(), &entry));
        }
    }
    if (removeReadOnly) {
        clearReadOnly(path,
                      L"Directory '%s' is with read-only. Its attribute is: '%d'. UnSetting its "
                      L"read-only attr and retry deleting",
                      logger);
    }
    bool removed = ::RemoveDirectoryW(path.c_str()) == TRUE;
    if (removed && logSuccess)
        libraryLog(logger, LEVEL_INFO, kModule,
                   L"Successfully deleted directory from path: %s. Recursive: %d", path.c_str(),
                   recursive ? 1 : 0);
    return removed;
}

bool writeTextFile(const std::wstring& path, const std::wstring& text) {
    win32::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        libraryLog(nullptr, LEVEL_ERROR, kModule, L"Failed to create file at path :%s Error:%d",
                   path.c_str(), static_cast<int>(::GetLastError()));
        return false;
    }
    std::string utf8;
    if (!nativeToUTF8(text.c_str(), utf8))
        return false;
    // One WriteFile for any text a DWORD can count; larger texts go in pieces.
    size_t done = 0;
    do {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(utf8.size() - done, 0x40000000));
        DWORD written = 0;
        if (!::WriteFile(file.get(), utf8.data() + done, chunk, &written, nullptr) ||
            written != chunk) {
            libraryLog(nullptr, LEVEL_ERROR, kModule, L"Failed to write in file ERROR_VAL:%d\n",
                       static_cast<int>(::GetLastError()));
            return false;
        }
        done += written;
    } while (done < utf8.size());
    ::FlushFileBuffers(file.get());
    return true;
}

bool readTextFile(const std::wstring& path, std::wstring& text) {
    text.clear();
    // Only a regular file has an end: a device or a pipe could be read for ever.
    int64_t size = 0;
    if (!os::regularFileSize(path, size))
        return false;
    std::unique_ptr<FILE, FileCloser> file(::_wfopen(path.c_str(), L"r, ccs=UTF-8"));
    if (!file)
        return false;
    try {
        // Never more characters than the file had bytes when it was measured.
        wchar_t buffer[1024];
        while (static_cast<int64_t>(text.size()) <= size &&
               std::fgetws(buffer, 1024, file.get()) != nullptr)
            text += buffer;
        if (static_cast<int64_t>(text.size()) > size)
            text.resize(static_cast<size_t>(size));
        return true;
    } catch (const std::bad_alloc&) {
        text.clear();
        return false;
    }
}

}  // namespace zoka
