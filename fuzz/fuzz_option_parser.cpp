// The option parser: the input's NUL-separated pieces are the words of a command line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/option_parser.h"
#include "fuzz/fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> words = fuzzsupport::words(data, size);
    words.insert(words.begin(), L"Velkaro");
    std::vector<wchar_t*> argv;
    for (std::wstring& word : words)
        argv.push_back(word.data());
    velkaro::OptionParser parser;
    if (!parser.init(static_cast<int>(argv.size()), argv.data()))
        return 0;
    int results = 0;
    while (parser.next()) {
        if (++results > static_cast<int>(argv.size()))
            fuzzsupport::fail("more results than words");
        if (parser.lastError() == velkaro::PARSE_OK && parser.optionText() == nullptr)
            fuzzsupport::fail("an option without its text");
    }
    if (parser.leftoverCount() < 0 || parser.leftoverCount() > static_cast<int>(argv.size()))
        fuzzsupport::fail("leftover count out of range");
    for (int i = 0; i < parser.leftoverCount(); ++i) {
        if (parser.leftovers()[i] == nullptr)
            fuzzsupport::fail("null leftover");
    }
    return 0;
}
