#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "base/named_lock_posix.h"
#include "base/platform.h"
#include "base/posix_io.h"
#include "base/unicode.h"
#include "base/unique_fd.h"
#include "logging/log_target.h"

namespace zoka {

using posix::UniqueFd;

void FileHandle::reset(intptr_t native) {
    if (native_ >= 0)
        ::close(static_cast<int>(native_));
    native_ = native;
}

namespace logfile {
namespace {

// Log files may lie in the shared /tmp: only their owner reads them.
constexpr mode_t kFileMode = 0600;

std::string nativePath(const std::wstring& path) {
    return toUtf8(path);
}

// Opens an existing entry without following a link and keeps it only when it is a regular
// file. O_NONBLOCK keeps a planted FIFO from blocking the open; it is cleared afterwards.
UniqueFd openRegular(const std::wstring& path, int flags) {
    UniqueFd fd(::open(nativePath(path).c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return fd;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return UniqueFd();
    const int current = ::fcntl(fd.get(), F_GETFL);
    if (current >= 0)
        ::fcntl(fd.get(), F_SETFL, current & ~O_NONBLOCK);
    return fd;
}

// A file that this user may write into: its own, writable by nobody else, and not a second
// name of some other file (a hard link planted in a shared folder).
bool isOwnFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0 &&
           st.st_nlink == 1;
}

UniqueFd openOwnRegular(const std::wstring& path, int flags) {
    UniqueFd fd = openRegular(path, flags);
    struct stat st;
    if (fd.valid() && (::fstat(fd.get(), &st) != 0 || !isOwnFile(st))) {
        errno = EPERM;
        return UniqueFd();
    }
    return fd;
}

}  // namespace

bool isForeign(const std::wstring& path) {
    struct stat st;
    return ::lstat(nativePath(path).c_str(), &st) == 0 && !isOwnFile(st);
}

// Deleting the log, or putting another file in its place, leaves the open file without a
// name. This runs for every line, so it asks the descriptor alone: a log that was merely
// renamed still receives the lines.
bool isStillNamed(const FileHandle& file, const std::wstring&) {
    struct stat open;
    return file.valid() && ::fstat(static_cast<int>(file.get()), &open) == 0 && open.st_nlink > 0;
}

struct CrossProcessLock::Impl {
    explicit Impl(const std::wstring& name) : lock(name) {}
    posix::NamedLock lock;
};

CrossProcessLock::CrossProcessLock(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
CrossProcessLock::~CrossProcessLock() = default;

std::unique_ptr<CrossProcessLock> CrossProcessLock::create(Kind, const std::wstring& name) {
    // The kernel drops a flock when its holder dies, so no lock is ever left abandoned.
    auto impl = std::make_unique<Impl>(name);
    if (!impl->lock.valid())
        return nullptr;
    return std::unique_ptr<CrossProcessLock>(new CrossProcessLock(std::move(impl)));
}

bool CrossProcessLock::acquire() {
    return impl_->lock.lock();
}
bool CrossProcessLock::release() {
    return impl_->lock.unlock();
}

int64_t nowMs() {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

namespace {

// gettid is a system call: remember it per thread. A forked child is a new thread of a new
// process, so the remembered values are dropped there.
thread_local unsigned long cachedThreadId = 0;
void forgetThreadId() {
    cachedThreadId = 0;
}

}  // namespace

unsigned long threadId() {
    if (cachedThreadId == 0) {
        static const int registered = ::pthread_atfork(nullptr, nullptr, forgetThreadId);
        (void)registered;
        cachedThreadId = os::currentThreadId();
    }
    return cachedThreadId;
}

bool toLocalTime(int64_t seconds, LocalTime& out) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (::localtime_r(&t, &tm) == nullptr)
        return false;
    out = fromTm(tm);
    return true;
}

LocalTime localNow() {
    const time_t t = ::time(nullptr);
    struct tm tm;
    if (::localtime_r(&t, &tm) == nullptr)
        return LocalTime();
    return fromTm(tm);
}

bool looksUtf16(const std::wstring& path) {
    UniqueFd fd = openRegular(path, O_RDONLY);
    if (!fd.valid())
        return true;
    unsigned char mark[2];
    ssize_t n;
    do {
        n = ::pread(fd.get(), mark, 2, 0);
    } while (n < 0 && errno == EINTR);
    if (n != 2)
        return false;
    return (mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF);
}

FileHandle openForAppend(const std::wstring& path) {
    return FileHandle(openOwnRegular(path, O_WRONLY | O_APPEND).release());
}

FileHandle createNew(const std::wstring& path) {
    // O_EXCL refuses any existing name, a dangling symbolic link included.
    const int fd =
        ::open(nativePath(path).c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode);
    return FileHandle(fd);
}

bool appendAtEnd(const FileHandle& file, const void* data, size_t size) {
    // Every log file is open with O_APPEND: each write lands at the current end.
    return file.valid() && posix::writeAll(static_cast<int>(file.get()),
                                           {static_cast<const char*>(data), size}) == 0;
}

bool fileSize(const std::wstring& path, int64_t& size) {
    struct stat st;
    if (::lstat(nativePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    size = static_cast<int64_t>(st.st_size);
    return true;
}

bool renameNoReplace(const std::wstring& from, const std::wstring& to) {
    const std::string source = nativePath(from);
    const std::string target = nativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link also refuses an existing name.
    if (::link(source.c_str(), target.c_str()) != 0)
        return false;
    ::unlink(source.c_str());
    return true;
}

bool copyToNewFile(const std::wstring& from, const std::wstring& to) {
    if (to.empty())
        return false;
    UniqueFd source = openRegular(from, O_RDONLY);
    if (!source.valid())
        return false;
    const std::string target = nativePath(to);
    UniqueFd copy(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kFileMode));
    if (!copy.valid())
        return false;
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = posix::readSome(source.get(), buffer, sizeof(buffer));
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        if (posix::writeAll(copy.get(), {buffer, static_cast<size_t>(n)}) != 0) {
            ok = false;
            break;
        }
    }
    // The original is emptied after this, so the copy must be on disk first.
    if (ok && ::fsync(copy.get()) != 0)
        ok = false;
    if (::close(copy.release()) != 0)
        ok = false;
    if (!ok)
        ::unlink(target.c_str());
    return ok;
}

bool resetFile(const std::wstring& path, const void* data, size_t size) {
    UniqueFd fd = openOwnRegular(path, O_WRONLY);
    if (!fd.valid() || ::ftruncate(fd.get(), 0) != 0)
        return false;
    return ::pwrite(fd.get(), data, size, 0) == static_cast<ssize_t>(size);
}

bool createFolderTree(const std::wstring& path) {
    const std::string native = nativePath(path);
    for (size_t pos = 1; pos <= native.size(); ++pos) {
        if (pos < native.size() && native[pos] != '/')
            continue;
        const std::string prefix = native.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool createFolder(const std::wstring& path) {
    return ::mkdir(nativePath(path).c_str(), 0700) == 0;
}

}  // namespace logfile
}  // namespace zoka
