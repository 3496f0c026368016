#include <windows.h>

#include <system_error>

#include "base/win32_handle.h"
#include "report/input_file.h"

namespace velkaro::report {

InputFault readInputFile(const std::filesystem::path::value_type* path, char* buffer,
                         size_t capacity, size_t& size, std::string& error) {
    size = 0;
    zoka::win32::UniqueHandle file(
        ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD code = ::GetLastError();
        error = std::system_category().message(static_cast<int>(code));
        return code == ERROR_CANT_RESOLVE_FILENAME ? InputFault::LinkLoop : InputFault::CannotRead;
    }
    // A device or pipe behind the name is no file, whatever the folder listing said.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        error = "a device, pipe or folder, not a file";
        return InputFault::NotAFile;
    }
    while (size < capacity) {
        const size_t want = capacity - size < (1u << 30) ? capacity - size : (1u << 30);
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer + size, static_cast<DWORD>(want), &got, nullptr)) {
            error = std::system_category().message(static_cast<int>(::GetLastError()));
            return InputFault::CannotRead;
        }
        if (got == 0)
            break;
        size += got;
    }
    return InputFault::None;
}

}  // namespace velkaro::report
