#include "child_process.h"

namespace testutil {

RunResult ChildProcess::finish(int exitCode) {
    RunResult result;
    result.started = true;
    result.exitCode = exitCode;
    if (outputFolder_) {
        result.out = readBytes(outputFolder_->file(L"stdout"));
        result.err = readBytes(outputFolder_->file(L"stderr"));
        outputFolder_.reset();
    }
    return result;
}

RunResult runProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                     const ChildOptions& options) {
    ChildProcess child;
    if (!child.start(program, args, options))
        return RunResult{};
    return child.wait();
}

std::wstring quoteWindowsArgument(const std::wstring& word) {
    if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return word;
    // Backslashes count only before a quote: double them there and at the closing quote.
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : word) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

}  // namespace testutil
