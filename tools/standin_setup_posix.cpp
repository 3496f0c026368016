#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "base/posix_io.h"
#include "base/unicode.h"
#include "standin_platform.h"

extern char** environ;

namespace standin {

std::vector<std::wstring> arguments(int argc, char** argv) {
    std::vector<std::wstring> result;
    for (int i = 0; i < argc; ++i)
        result.push_back(zoka::fromUtf8(argv[i]));
    return result;
}

bool rawCommandLine(std::wstring&) {
    return false;
}

std::wstring programPath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(buffer))
        return std::wstring();
    return zoka::fromUtf8(std::string(buffer, static_cast<size_t>(n)));
}

std::wstring currentFolder() {
    std::string buffer(PATH_MAX, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
    return zoka::fromUtf8(buffer.c_str());
}

unsigned long processId() {
    return static_cast<unsigned long>(::getpid());
}

bool processGroup(unsigned long& group) {
    group = static_cast<unsigned long>(::getpgrp());
    return true;
}

wchar_t separator() {
    return L'/';
}

bool isAbsolute(const std::wstring& path) {
    return !path.empty() && path[0] == L'/';
}

bool getEnv(const char* name, std::wstring& value) {
    const char* v = ::getenv(name);
    if (v == nullptr)
        return false;
    value = zoka::fromUtf8(v);
    return true;
}

bool readFile(const std::wstring& path, size_t limit, std::string& bytes, bool& truncated,
              unsigned long& error, bool& missing) {
    bytes.clear();
    truncated = false;
    missing = false;
    const int fd = ::open(zoka::toUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = static_cast<unsigned long>(errno);
        missing = errno == ENOENT || errno == ENOTDIR;
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        ok = false;
    }
    char buffer[65536];
    while (ok) {
        const ssize_t n = zoka::posix::readSome(fd, buffer, sizeof(buffer));
        if (n < 0)
            ok = false;
        if (n <= 0)
            break;
        const size_t room = limit - bytes.size();
        bytes.append(buffer, std::min(room, static_cast<size_t>(n)));
        if (static_cast<size_t>(n) > room) {
            truncated = true;
            break;
        }
    }
    if (!ok)
        error = static_cast<unsigned long>(errno);
    ::close(fd);
    return ok;
}

bool appendFile(const std::wstring& path, const std::string& bytes) {
    const int fd =
        ::open(zoka::toUtf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = zoka::posix::writeAll(fd, bytes) == 0;
    return ::close(fd) == 0 && written;
}

unsigned long startChild(const std::wstring& program, const wchar_t* argument, bool leaveGroup) {
    std::string path = zoka::toUtf8(program);
    std::string word = zoka::toUtf8(argument);
    char* argv[] = {path.data(), word.data(), nullptr};
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0)
        return 0;
    if (leaveGroup)
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, path.c_str(), nullptr, &attributes, argv, environ);
    ::posix_spawnattr_destroy(&attributes);
    return rc == 0 ? static_cast<unsigned long>(pid) : 0;
}

void sleepMs(unsigned long ms) {
    struct timespec left = {static_cast<time_t>(ms / 1000),
                            static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void hang() {
    for (;;)
        ::pause();
}

namespace {

void* hangingThread(void*) {
    hang();
}

}  // namespace

void hangWithoutMainThread() {
    pthread_t thread;
    if (::pthread_create(&thread, nullptr, hangingThread, nullptr) != 0)
        hang();
    ::pthread_exit(nullptr);
}

void die() {
    ::raise(SIGKILL);
    ::_exit(128 + SIGKILL);  // not reached
}

void exitWith(uint32_t code) {
    ::_exit(static_cast<int>(code & 0xFF));
}

}  // namespace standin
