#include <windows.h>

#include <cwchar>
#include <map>

#include "base/win32_handle.h"
#include "child_process.h"

namespace testutil {

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

// The test process's environment with the changes applied, as a CreateProcessW block.
std::wstring childEnvironment(const std::vector<EnvChange>& changes) {
    std::map<std::wstring, std::wstring, NoCaseLess> variables;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const wchar_t* equals = wcschr(entry + 1, L'=');  // "=C:=C:\x" entries start with '='
            if (equals != nullptr)
                variables[std::wstring(entry, static_cast<size_t>(equals - entry))] = equals + 1;
        }
        ::FreeEnvironmentStringsW(block);
    }
    for (const EnvChange& change : changes) {
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
    return envBlock;
}

UniqueHandle openForChild(const std::wstring& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
    return UniqueHandle(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                                      disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (impl_->process) {
        kill();
        wait();
    }
}

bool ChildProcess::start(const std::wstring& program, const std::vector<std::wstring>& args,
                         const ChildOptions& options) {
    if (impl_->process)
        return false;
    std::wstring commandLine = quoteWindowsArgument(program);
    for (const std::wstring& arg : args)
        commandLine += L" " + quoteWindowsArgument(arg);
    std::wstring envBlock = childEnvironment(options.env);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::unique_ptr<ScratchDir> folder;  // before the handles: removed after they are closed
    UniqueHandle input, output, error;
    if (options.capture) {
        folder = std::make_unique<ScratchDir>(L"out");
        input = openForChild(L"NUL", GENERIC_READ, OPEN_EXISTING);
        output = openForChild(folder->file(L"stdout"), GENERIC_WRITE, CREATE_ALWAYS);
        error = openForChild(folder->file(L"stderr"), GENERIC_WRITE, CREATE_ALWAYS);
        if (!output || !error)
            return false;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = input.get();
        si.hStdOutput = output.get();
        si.hStdError = error.get();
    }
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                          options.capture ? TRUE : FALSE, CREATE_UNICODE_ENVIRONMENT,
                          envBlock.data(),
                          options.workDir.empty() ? nullptr : options.workDir.c_str(), &si, &pi)) {
        return false;
    }
    UniqueHandle thread(pi.hThread);
    impl_->process.reset(pi.hProcess);
    outputFolder_ = std::move(folder);
    return true;
}

void ChildProcess::kill() {
    if (impl_->process)
        ::TerminateProcess(impl_->process.get(), 1);
}

unsigned long ChildProcess::id() const {
    return impl_->process ? ::GetProcessId(impl_->process.get()) : 0;
}

RunResult ChildProcess::wait() {
    if (!impl_->process)
        return RunResult{};
    ::WaitForSingleObject(impl_->process.get(), INFINITE);
    DWORD code = 0;
    const bool known = ::GetExitCodeProcess(impl_->process.get(), &code);
    impl_->process.reset();
    return finish(known ? static_cast<int>(code) : -1);
}

}  // namespace testutil
