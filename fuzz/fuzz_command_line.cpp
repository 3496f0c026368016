// The command-line splitter: any text splits without harm, and a command line built from
// words gives back exactly those words.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "sysutil/process_launcher.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> words = fuzzsupport::words(data, size);
    std::wstring joined;
    for (const std::wstring& word : words)
        joined += word + L' ';
    korr::splitCommandLine(joined);

    // The program path is quoted whole; the builder passes arguments unchanged, so the
    // property holds for arguments that carry no quoting of their own.
    const std::wstring program = words[0];
    if (program.find_first_of(L"\"") != std::wstring::npos || program.empty())
        return 0;
    std::vector<std::wstring> arguments(words.begin() + 1, words.end());
    for (const std::wstring& argument : arguments) {
        if (argument.empty() || argument.find_first_of(L" \t\"") != std::wstring::npos)
            return 0;
    }
    std::vector<std::wstring> expected = {program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    if (korr::splitCommandLine(korr::buildCommandLine(program, arguments, true)) != expected)
        fuzzsupport::fail("buildCommandLine then splitCommandLine changed the words");
    return 0;
}
