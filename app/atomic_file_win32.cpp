#include <windows.h>

#include "app/atomic_file.h"
#include "base/win32_handle.h"
#include "support/string_utils.h"

namespace velkaro {

namespace {

std::wstring systemError(const wchar_t* what, DWORD code) {
    return std::wstring(what) + L": error " + std::to_wstring(code);
}

// A device ("NUL", "CON") or a pipe at the path: no file to replace.
bool namesADevice(const std::wstring& path) {
    zoka::win32::UniqueHandle entry(::CreateFileW(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return entry && ::GetFileType(entry.get()) != FILE_TYPE_DISK;
}

}  // namespace

bool writeFileAtomically(const std::wstring& path, const std::string& bytes, std::wstring& error,
                         std::wstring* movedAside, bool flush) {
    if (movedAside != nullptr)
        movedAside->clear();
    if (namesADevice(path)) {
        error = L"it is not a regular file";
        return false;
    }
    std::wstring guid;
    zoka::newGuidString(guid);
    const std::wstring temp = path + L"." + guid + L".tmp";
    DWORD failure = ERROR_SUCCESS;
    const wchar_t* step = L"cannot create the temporary file";
    {
        // CREATE_NEW: a fresh name, never an existing file or a link planted under it.
        zoka::win32::UniqueHandle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr,
                                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            error = systemError(step, ::GetLastError());
            return false;
        }
        DWORD written = 0;
        if (bytes.size() > 0xFFFFFFFFu ||
            !::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) ||
            written != bytes.size()) {
            failure = ::GetLastError();
            step = L"cannot write the temporary file";
            if (failure == ERROR_SUCCESS)
                failure = ERROR_WRITE_FAULT;
        } else if (flush && !::FlushFileBuffers(file.get())) {
            failure = ::GetLastError();
            step = L"cannot flush the temporary file";
        }
    }
    // A collector that has the target open without sharing deletion blocks the rename for as
    // long as it reads: try again for a few seconds.
    for (int attempt = 0; failure == ERROR_SUCCESS; ++attempt) {
        if (::MoveFileExW(temp.c_str(), path.c_str(),
                          MOVEFILE_REPLACE_EXISTING | (flush ? MOVEFILE_WRITE_THROUGH : 0)))
            break;
        const DWORD code = ::GetLastError();
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        const bool folder =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) || folder ||
            attempt == 50) {
            failure = code;
            step = L"cannot rename the temporary file over the target";
            break;
        }
        ::Sleep(100);
    }
    if (failure != ERROR_SUCCESS) {
        ::DeleteFileW(temp.c_str());
        error = systemError(step, failure);
        return false;
    }
    return true;
}

bool moveForeignEntryAside(const std::wstring&, std::wstring& movedTo, std::wstring&) {
    movedTo.clear();
    return true;
}

namespace {

bool fileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
    // No access asked for: only the identity is read, whoever holds the file open.
    zoka::win32::UniqueHandle file(
        ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && ::GetFileInformationByHandle(file.get(), &info) != 0;
}

}  // namespace

bool sameExistingFile(const std::wstring& path, const std::wstring& other) {
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    return fileIdentity(path, a) && fileIdentity(other, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace velkaro
