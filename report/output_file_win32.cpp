#include <windows.h>

#include <system_error>

#include "base/win32_handle.h"
#include "report/output_file_platform.h"

namespace velkaro::report::platform {

namespace {

std::string lastError() {
    return std::system_category().message(static_cast<int>(::GetLastError()));
}

}  // namespace

std::string outputRefusal(const std::filesystem::path& target) {
    // Opened as itself (a link not followed, a folder allowed) only to ask what it is.
    zoka::win32::UniqueHandle h(::CreateFileW(
        target.c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!h)
        return std::string();  // nothing there (or unreachable: creating the file will say)
    if (::GetFileType(h.get()) != FILE_TYPE_DISK)
        return "it is a device, not a file";
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(h.get(), &info))
        return std::string();
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return "it is a link, not a file";
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return "it is a folder, not a file";
    return std::string();
}

intptr_t createOutput(const std::filesystem::path& temp, std::string& error) {
    const HANDLE h = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = lastError();
        return kNoHandle;
    }
    return reinterpret_cast<intptr_t>(h);
}

bool writeOutput(intptr_t handle, const char* data, size_t size, std::string& error) {
    const HANDLE h = reinterpret_cast<HANDLE>(handle);
    while (size != 0) {
        const DWORD want = size < (1u << 30) ? static_cast<DWORD>(size) : (1u << 30);
        DWORD written = 0;
        if (!::WriteFile(h, data, want, &written, nullptr) || written == 0) {
            error = lastError();
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool closeOutput(intptr_t handle, bool flush, std::string& error) {
    zoka::win32::UniqueHandle h(reinterpret_cast<HANDLE>(handle));
    if (flush && !::FlushFileBuffers(h.get())) {
        error = lastError();
        return false;
    }
    return true;
}

bool replaceOutput(const std::filesystem::path& temp, const std::filesystem::path& target,
                   std::string& error) {
    error = outputRefusal(target);
    if (!error.empty())
        return false;
    if (!::MoveFileExW(temp.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = lastError();
        return false;
    }
    return true;
}

void removeOutput(const std::filesystem::path& temp) {
    ::DeleteFileW(temp.c_str());
}

}  // namespace velkaro::report::platform
