#include <windows.h>

#include <shellapi.h>

#include <cstring>

#include "base/win32_handle.h"
#include "standin_platform.h"

namespace standin {

std::vector<std::wstring> arguments(int, char**) {
    std::vector<std::wstring> result;
    int count = 0;
    zoka::win32::LocalPtr<LPWSTR*> argv(::CommandLineToArgvW(::GetCommandLineW(), &count));
    for (int i = 0; argv.get() != nullptr && i < count; ++i)
        result.emplace_back(argv.get()[i]);
    return result;
}

bool rawCommandLine(std::wstring& commandLine) {
    commandLine = ::GetCommandLineW();
    return true;
}

std::wstring programPath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size())
            return buffer.substr(0, n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring currentFolder() {
    const DWORD size = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring buffer(size, L'\0');
    const DWORD n = ::GetCurrentDirectoryW(size, buffer.data());
    return n == 0 || n >= size ? std::wstring() : buffer.substr(0, n);
}

unsigned long processId() {
    return ::GetCurrentProcessId();
}

bool processGroup(unsigned long&) {
    return false;
}

wchar_t separator() {
    return L'\\';
}

bool isAbsolute(const std::wstring& path) {
    return (path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/')) ||
           (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/') &&
            (path[1] == L'\\' || path[1] == L'/'));
}

bool getEnv(const char* name, std::wstring& value) {
    const std::wstring wideName(name, name + strlen(name));
    const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) {
        // Set but empty also reports 0; only a missing variable sets this error.
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return false;
        value.clear();
        return true;
    }
    std::wstring buffer(size, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), buffer.data(), size);
    value = buffer.substr(0, n < size ? n : 0);
    return true;
}

bool readFile(const std::wstring& path, size_t limit, std::string& bytes, bool& truncated,
              unsigned long& error, bool& missing) {
    bytes.clear();
    truncated = false;
    missing = false;
    zoka::win32::UniqueHandle file(::CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = ::GetLastError();
        missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return false;
    }
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        if (n == 0)
            return true;
        const size_t room = limit - bytes.size();
        bytes.append(buffer, n < room ? n : room);
        if (n > room) {
            truncated = true;
            return true;
        }
    }
}

bool appendFile(const std::wstring& path, const std::string& bytes) {
    zoka::win32::UniqueHandle file(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

unsigned long startChild(const std::wstring& program, const wchar_t* argument, bool leaveGroup) {
    std::wstring commandLine = L"\"" + program + L"\" " + argument;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    const DWORD flags = leaveGroup ? CREATE_NEW_PROCESS_GROUP : 0;
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags,
                          nullptr, nullptr, &startup, &info))
        return 0;
    zoka::win32::UniqueHandle process(info.hProcess);
    zoka::win32::UniqueHandle thread(info.hThread);
    return info.dwProcessId;
}

void sleepMs(unsigned long ms) {
    ::Sleep(ms);
}

void hang() {
    for (;;)
        ::Sleep(INFINITE);
}

namespace {

DWORD WINAPI hangingThread(void*) {
    hang();
}

}  // namespace

void hangWithoutMainThread() {
    zoka::win32::UniqueHandle thread(
        ::CreateThread(nullptr, 0, hangingThread, nullptr, 0, nullptr));
    if (!thread)
        hang();
    thread.reset();
    ::ExitThread(0);
}

void die() {
    ::TerminateProcess(::GetCurrentProcess(), 3);
    ::ExitProcess(3);  // not reached
}

void exitWith(uint32_t code) {
    ::ExitProcess(code);
}

}  // namespace standin
