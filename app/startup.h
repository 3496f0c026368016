#pragma once
// What the driver needs from the operating system before it runs: the command line's words,
// COM, the user's temporary folder and the executable's folder.

#include <string>
#include <vector>

namespace velkaro {

/// The process's argument words, word 0 being the program. Windows splits the process's own
/// command line (CommandLineToArgvW) and ignores main's arguments; POSIX converts main's
/// arguments from UTF-8.
std::vector<std::wstring> commandLineWords(int argc, char** argv);

/// Initialises COM for the thread on Windows (never undone); nothing on POSIX.
void initializeCom();

/// POSIX: opens /dev/null on standard input, output or error when the parent closed them, so
/// that no file the program opens (its log) takes their place. Nothing on Windows.
void ensureStandardStreams();

/// The user's temporary folder with its trailing separator, created when it is missing.
/// False when the platform cannot tell, the folder cannot be created, or (POSIX) another user
/// could change it: then `whyNot` says why, when there is more to say than that.
bool getTempFolder(std::wstring& path, std::wstring& whyNot);

/// The machine's host name; empty when the platform cannot tell.
std::wstring hostName();

/// The machine's stable identity (POSIX: /etc/machine-id; Windows: the MachineGuid under
/// HKLM\SOFTWARE\Microsoft\Cryptography, from the 64-bit registry view even in the 32-bit
/// program); empty when it cannot be read.
std::wstring machineId();

/// This process's id, as the results file names it.
unsigned long processId();

/// The running executable's folder, without a trailing separator. `path` is left unchanged on
/// failure.
bool getExecutableFolder(std::wstring& path);

}  // namespace velkaro
