#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>

#include "report/command_line.h"

namespace velkaro::report {

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

std::vector<std::filesystem::path> commandLineWords(int, char**) {
    std::vector<std::filesystem::path> words;
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(
        CommandLineToArgvW(GetCommandLineW(), &count));
    if (!argv)
        return words;
    for (int i = 1; i < count; ++i)
        words.emplace_back(argv.get()[i]);
    return words;
}

}  // namespace velkaro::report
