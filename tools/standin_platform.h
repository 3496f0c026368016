#pragma once
// The few operating-system calls of the stand-in setup program (standin_setup_win32.cpp /
// standin_setup_posix.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace standin {

/// The argument vector as the program received it, argv[0] first (Windows: the process's
/// command line split by CommandLineToArgvW).
std::vector<std::wstring> arguments(int argc, char** argv);
/// The raw command line (Windows); false on POSIX, where a process has none.
bool rawCommandLine(std::wstring& commandLine);
/// The full path of this program.
std::wstring programPath();
std::wstring currentFolder();
unsigned long processId();
/// The process group (POSIX); false on Windows, where a process has none of that kind.
bool processGroup(unsigned long& group);
wchar_t separator();
/// True when `path` is absolute on this platform.
bool isAbsolute(const std::wstring& path);

/// False when the variable is not set.
bool getEnv(const char* name, std::wstring& value);

/// Reads at most `limit` bytes of a file. False with the system's error code when it cannot be
/// opened or read; `missing` tells whether the file (or its folder) does not exist.
bool readFile(const std::wstring& path, size_t limit, std::string& bytes, bool& truncated,
              unsigned long& error, bool& missing);
/// Appends the bytes in one write, creating the file when needed.
bool appendFile(const std::wstring& path, const std::string& bytes);

/// Starts `program` with the one argument and returns its process id (0 when it failed). The
/// child stays in this program's job (Windows) and, unless `leaveGroup`, in its process group
/// (POSIX: with `leaveGroup` it gets a session of its own; Windows: a process group).
unsigned long startChild(const std::wstring& program, const wchar_t* argument, bool leaveGroup);

void sleepMs(unsigned long ms);
[[noreturn]] void hang();
/// Ends the main thread while another thread hangs: the process runs on without it.
[[noreturn]] void hangWithoutMainThread();
/// Ends the process without an orderly exit: SIGKILL on POSIX; on Windows it terminates itself
/// with the exit code 3 that abort() gives, without an error report dialog.
[[noreturn]] void die();
[[noreturn]] void exitWith(uint32_t code);

}  // namespace standin
