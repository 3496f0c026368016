#pragma once
// What the end-to-end tests do differently on Windows and on POSIX: where the setup programs'
// base folders are, how a run gets its own temporary folder, and how to run without rights.

#include <string>
#include <vector>

#include "e2e/child_process.h"

namespace e2e {

/// The two program-files roots the program searches (common files, program files), and the
/// environment that points the program at them. POSIX: folders below `scratch` named by
/// CommonProgramFiles / ProgramFiles. Windows: the real shell folders (of the Wine prefix),
/// which cannot be moved; the environment stays empty.
struct ProgramRoots {
    std::wstring commonFiles;
    std::wstring programFiles;
    std::vector<EnvChange> env;
    bool shared = false;  ///< true when the roots are the machine's own folders
};
ProgramRoots programRoots(const std::wstring& scratch);

/// The variables that make `folder` the program's temporary folder (TMPDIR; TMP and TEMP).
std::vector<EnvChange> tempFolderEnv(const std::wstring& folder);

/// Ends a process by its id (a setup stand-in left hanging). False when it could not.
bool killProcessId(unsigned long pid);

/// Wraps a command so that it runs without administrator rights. False, with the reason, when
/// this machine cannot do that (POSIX: not root or no setpriv; Windows under Wine: every
/// process is an administrator).
bool unprivilegedCommand(std::wstring& program, std::vector<std::wstring>& args,
                         std::string& whyNot);

/// Lets an unprivileged user write into the folder (no-op on Windows).
void openFolderToEveryone(const std::wstring& folder);

/// Copies a program of the build, keeping it executable. Creates no folder.
bool copyProgram(const std::wstring& from, const std::wstring& to);

/// True when the path names a folder; creates one folder (not its parents).
bool makeFolder(const std::wstring& path);

/// Deletes a file, or an empty folder.
bool removeEntry(const std::wstring& path);

/// The names of the entries of a folder.
std::vector<std::wstring> listFolder(const std::wstring& folder);

}  // namespace e2e
