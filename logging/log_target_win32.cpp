#include <windows.h>
// windows.h first: the other Windows headers depend on it.
#include <shlobj.h>
#include <time.h>

#include "base/win32_handle.h"
#include "logging/log_target.h"

namespace zoka {

using win32::UniqueHandle;

void FileHandle::reset(intptr_t native) {
    if (native_ != kNone)
        ::CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = native;
}

namespace logfile {
namespace {

constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE toHandle(const FileHandle& file) {
    return reinterpret_cast<HANDLE>(file.get());
}

FileHandle adopt(HANDLE h) {
    return h == INVALID_HANDLE_VALUE ? FileHandle() : FileHandle(reinterpret_cast<intptr_t>(h));
}

bool writeAll(HANDLE h, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            return false;
        p += written;
        size -= written;
    }
    return true;
}

}  // namespace

struct CrossProcessLock::Impl {
    UniqueHandle handle;
    Kind kind;
};

CrossProcessLock::CrossProcessLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CrossProcessLock::~CrossProcessLock() = default;

std::unique_ptr<CrossProcessLock> CrossProcessLock::create(Kind kind, const std::wstring& name) {
    auto impl = std::make_unique<Impl>();
    impl->kind = kind;
    if (kind == Kind::kSemaphore) {
        // Yields the existing semaphore when another process has created it.
        impl->handle.reset(::CreateSemaphoreW(nullptr, 1, 1, name.c_str()));
    } else {
        impl->handle.reset(::CreateMutexW(nullptr, FALSE, name.c_str()));
        if (!impl->handle && ::GetLastError() == ERROR_ACCESS_DENIED) {
            impl->handle.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
        }
    }
    if (!impl->handle)
        return nullptr;
    return std::unique_ptr<CrossProcessLock>(new CrossProcessLock(std::move(impl)));
}

bool CrossProcessLock::acquire() {
    const DWORD result = ::WaitForSingleObject(impl_->handle.get(), INFINITE);
    if (result == WAIT_OBJECT_0)
        return true;
    if (result == WAIT_ABANDONED)
        ::ReleaseMutex(impl_->handle.get());
    return false;
}

bool CrossProcessLock::release() {
    if (impl_->kind == Kind::kSemaphore) {
        return ::ReleaseSemaphore(impl_->handle.get(), 1, nullptr) != FALSE;
    }
    return ::ReleaseMutex(impl_->handle.get()) != FALSE;
}

int64_t nowMs() {
    FILETIME ft;
    ::GetSystemTimeAsFileTime(&ft);
    ULARGE_INTEGER ticks;
    ticks.LowPart = ft.dwLowDateTime;
    ticks.HighPart = ft.dwHighDateTime;
    // FILETIME counts 100 ns from 1601-01-01.
    return static_cast<int64_t>((ticks.QuadPart - 116444736000000000ULL) / 10000);
}

unsigned long threadId() {
    return ::GetCurrentThreadId();
}

bool toLocalTime(int64_t seconds, LocalTime& out) {
    const __time64_t t = static_cast<__time64_t>(seconds);
    struct tm tm;
    if (_localtime64_s(&tm, &t) != 0)
        return false;
    out = fromTm(tm);
    return true;
}

LocalTime localNow() {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    LocalTime t;
    t.year = st.wYear;
    t.month = st.wMonth;
    t.day = st.wDay;
    t.hour = st.wHour;
    t.minute = st.wMinute;
    t.second = st.wSecond;
    return t;
}

bool looksUtf16(const std::wstring& path) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareReadWrite, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return true;
    unsigned char mark[2];
    DWORD read = 0;
    if (!::ReadFile(file.get(), mark, 2, &read, nullptr) || read != 2)
        return false;
    return (mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF);
}

bool isForeign(const std::wstring&) {
    return false;
}

// The file is open without FILE_SHARE_DELETE: nobody can delete it meanwhile.
bool isStillNamed(const FileHandle& file, const std::wstring&) {
    return file.valid();
}

FileHandle openForAppend(const std::wstring& path) {
    return adopt(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareReadWrite, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
}

FileHandle createNew(const std::wstring& path) {
    return adopt(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareReadWrite, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool appendAtEnd(const FileHandle& file, const void* data, size_t size) {
    if (!file.valid())
        return false;
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(toHandle(file), zero, nullptr, FILE_END))
        return false;
    return writeAll(toHandle(file), data, size);
}

bool fileSize(const std::wstring& path, int64_t& size) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, kShareReadWrite, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER value;
    if (!file || !::GetFileSizeEx(file.get(), &value))
        return false;
    size = value.QuadPart;
    return true;
}

bool renameNoReplace(const std::wstring& from, const std::wstring& to) {
    return ::MoveFileExW(from.c_str(), to.c_str(), 0) != FALSE;  // no MOVEFILE_REPLACE_EXISTING
}

bool copyToNewFile(const std::wstring& from, const std::wstring& to) {
    if (to.empty())
        return false;
    UniqueHandle source(::CreateFileW(from.c_str(), GENERIC_READ, kShareReadWrite, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!source)
        return false;
    UniqueHandle copy(::CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy)
        return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(source.get(), buffer, sizeof(buffer), &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0)
            break;
        if (!writeAll(copy.get(), buffer, read)) {
            ok = false;
            break;
        }
    }
    // The original is emptied after this, so the copy must be on disk first.
    if (ok && !::FlushFileBuffers(copy.get()))
        ok = false;
    copy.reset();
    if (!ok)
        ::DeleteFileW(to.c_str());
    return ok;
}

bool resetFile(const std::wstring& path, const void* data, size_t size) {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, kShareReadWrite, nullptr,
                                    TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && writeAll(file.get(), data, size);
}

bool createFolderTree(const std::wstring& path) {
    std::wstring folder = path;
    while (folder.size() > 3 && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    const int result = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    return result == ERROR_SUCCESS || result == ERROR_FILE_EXISTS || result == ERROR_ALREADY_EXISTS;
}

bool createFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE;
}

}  // namespace logfile
}  // namespace zoka
