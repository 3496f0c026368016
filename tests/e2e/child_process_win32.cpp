#include <windows.h>

#include <cwctype>
#include <map>

#include "e2e/child_process.h"
#include "support/win32_handle.h"

namespace e2e {

using zoka::win32::UniqueHandle;

struct ChildProcess::Impl {
    UniqueHandle process;
};

namespace {

// Windows variable names compare without regard to case.
struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
};

UniqueHandle openForChild(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return UniqueHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->process) {
        ::TerminateProcess(impl_->process.get(), 1);
        ::WaitForSingleObject(impl_->process.get(), INFINITE);
    }
}

bool ChildProcess::start(const std::wstring& program, const std::vector<std::wstring>& args,
                         const std::vector<EnvChange>& env, const std::wstring& workDir) {
    if (impl_->process)
        return false;
    outputFolder_ = std::make_unique<testutil::ScratchDir>(L"out");

    std::wstring commandLine = quoteWindowsArgument(program);
    for (const std::wstring& arg : args)
        commandLine += L" " + quoteWindowsArgument(arg);

    std::map<std::wstring, std::wstring, NoCaseLess> variables;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const wchar_t* equals = wcschr(entry + 1, L'=');  // "=C:=C:\x" entries start with '='
            if (equals != nullptr)
                variables[std::wstring(entry, static_cast<size_t>(equals - entry))] = equals + 1;
        }
        ::FreeEnvironmentStringsW(block);
    }
    for (const EnvChange& change : env) {
        std::wstring name(change.name.begin(), change.name.end());
        if (change.unset)
            variables.erase(name);
        else
            variables[name] = change.value;
    }
    std::wstring envBlock;
    for (const auto& [name, value] : variables) {
        envBlock += name + L"=" + value;
        envBlock.push_back(L'\0');
    }
    envBlock.push_back(L'\0');

    UniqueHandle input = openForChild(L"NUL", GENERIC_READ, OPEN_EXISTING);
    UniqueHandle output =
        openForChild(outputFolder_->file(L"stdout"), GENERIC_WRITE, CREATE_ALWAYS);
    UniqueHandle error = openForChild(outputFolder_->file(L"stderr"), GENERIC_WRITE, CREATE_ALWAYS);
    if (!output || !error)
        return false;

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input.get();
    si.hStdOutput = output.get();
    si.hStdError = error.get();
    PROCESS_INFORMATION pi = {};
    std::wstring writable = commandLine;
    BOOL ok = ::CreateProcessW(program.c_str(), writable.data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT, envBlock.data(),
                               workDir.empty() ? nullptr : workDir.c_str(), &si, &pi);
    if (!ok)
        return false;
    UniqueHandle thread(pi.hThread);
    impl_->process.reset(pi.hProcess);
    return true;
}

bool ChildProcess::running() const {
    return static_cast<bool>(impl_->process);
}

void ChildProcess::kill() {
    if (impl_->process)
        ::TerminateProcess(impl_->process.get(), 1);
}

RunResult ChildProcess::wait() {
    RunResult result;
    if (!impl_->process)
        return result;
    ::WaitForSingleObject(impl_->process.get(), INFINITE);
    DWORD code = 0;
    result.started = true;
    result.exitCode =
        ::GetExitCodeProcess(impl_->process.get(), &code) ? static_cast<int>(code) : -1;
    impl_->process.reset();
    result.out = testutil::readBytes(outputFolder_->file(L"stdout"));
    result.err = testutil::readBytes(outputFolder_->file(L"stderr"));
    outputFolder_.reset();
    return result;
}

}  // namespace e2e
