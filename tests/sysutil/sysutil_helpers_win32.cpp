#include <windows.h>

#include <shellapi.h>

#include "support/win32_handle.h"
#include "sysutil/sysutil_helpers.h"
#include "test_util.h"

namespace sysutiltest {

bool isPosix() {
    return false;
}
bool isWine() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
bool runningAsRoot() {
    return false;
}

struct Child::Impl {
    zoka::win32::UniqueHandle process;
};

Child::Child() : impl_(std::make_unique<Impl>()) {}

Child::~Child() {
    if (impl_->process) {
        kill();
        wait();
    }
}

bool Child::start(const std::vector<std::wstring>& args) {
    // The tests pass words without quotes, so quoting those with blanks is enough.
    std::wstring commandLine;
    for (const auto& arg : args) {
        if (!commandLine.empty())
            commandLine += L' ';
        const bool quote = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
        commandLine += quote ? L"\"" + arg + L"\"" : arg;
    }
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return false;
    }
    ::CloseHandle(info.hThread);
    impl_->process.reset(info.hProcess);
    return true;
}

void Child::kill() {
    if (impl_->process)
        ::TerminateProcess(impl_->process.get(), 1);
}

int Child::wait() {
    if (!impl_->process)
        return -1;
    ::WaitForSingleObject(impl_->process.get(), INFINITE);
    DWORD code = 0;
    const bool ok = ::GetExitCodeProcess(impl_->process.get(), &code);
    impl_->process.reset();
    return ok ? static_cast<int>(code) : -1;
}

std::wstring testProgram() {
    return testutil::siblingProgram(L"velkaro_tests");
}

bool systemSplitCommandLine(const std::wstring& commandLine, std::vector<std::wstring>& words) {
    int count = 0;
    zoka::win32::LocalPtr<LPWSTR*> argv(::CommandLineToArgvW(commandLine.c_str(), &count));
    if (!argv.get())
        return false;
    words.assign(argv.get(), argv.get() + count);
    return true;
}

bool makeFolder(const std::wstring& path) {
    return ::CreateDirectoryW(path.c_str(), nullptr) != 0;
}

bool copyProgram(const std::wstring& from, const std::wstring& to) {
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

bool setMode(const std::wstring&, unsigned) {
    return true;
}
unsigned modeOf(const std::wstring&) {
    return 0;
}
bool makeSymlink(const std::wstring&, const std::wstring&) {
    return false;
}
bool giveAway(const std::wstring&, unsigned) {
    return false;
}
void removeLockFile(const std::wstring&) {}

}  // namespace sysutiltest
