#pragma once
// The program's run: logging, the command line, the refusal rules, the configuration, the
// removal run with its listing and summary, and the exit code.

#include <string>
#include <vector>

namespace velkaro {

/// Runs the program on the command line's words (word 0 is the program) and returns the exit
/// code: 0 help shown or every removal succeeded, 1 refused or stopped before removing,
/// 2 at least one removal failed. Registers the log target "Velkaro" and destroys it on return,
/// so it runs once per process.
int runVelkaro(std::vector<std::wstring> words);

}  // namespace velkaro
