#include "e2e/child_process.h"

namespace e2e {

RunResult runProcess(const std::wstring& program, const std::vector<std::wstring>& args,
                     const std::vector<EnvChange>& env, const std::wstring& workDir) {
    ChildProcess child;
    if (!child.start(program, args, env, workDir))
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
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, L'\\');
    quoted.push_back(L'"');
    return quoted;
}

}  // namespace e2e
