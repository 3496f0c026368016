#pragma once
// Whole-program benchmarks start programs as processes: this starts one and waits for it.

#include <sys/resource.h>

#include <string>
#include <vector>

namespace benchutil {

/// Starts a program with its output discarded (in `workDir` when not empty) and returns its
/// exit code (-1: no exit code). `usage`, when given, receives the child's resource use.
int runQuietly(const std::vector<std::string>& words, const std::string& workDir = "",
               struct rusage* usage = nullptr);

}  // namespace benchutil
