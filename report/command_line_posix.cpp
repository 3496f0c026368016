#include "report/command_line.h"

namespace velkaro::report {

std::vector<std::filesystem::path> commandLineWords(int argc, char** argv) {
    std::vector<std::filesystem::path> words;
    for (int i = 1; i < argc; ++i)
        words.emplace_back(argv[i]);
    return words;
}

}  // namespace velkaro::report
