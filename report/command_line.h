#pragma once
// The report's command line as paths, each word exactly as the system passed it (Windows: the
// wide command line, so any name reaches the program intact).

#include <filesystem>
#include <vector>

namespace velkaro::report {

/// The words after the program's name.
std::vector<std::filesystem::path> commandLineWords(int argc, char** argv);

}  // namespace velkaro::report
