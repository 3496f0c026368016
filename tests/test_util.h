#pragma once
// Helpers shared by the tests: scratch folders, file bytes, sibling programs.

#include <string>
#include <vector>

namespace testutil {

/// A fresh, empty folder below the system's temporary folder, removed (tree and all) on
/// destruction. Its path ends without a separator.
class ScratchDir {
public:
    explicit ScratchDir(const std::wstring& hint = L"t");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::wstring& path() const { return path_; }
    /// path() + separator + name.
    std::wstring file(const std::wstring& name) const;

private:
    std::wstring path_;
};

/// Points the user's temporary folder (TMP/TEMP on Windows, TMPDIR on POSIX) at a folder for
/// the object's lifetime.
class TempFolderOverride {
public:
    explicit TempFolderOverride(const std::wstring& folder);
    ~TempFolderOverride();

private:
    std::vector<std::pair<std::string, std::wstring>> saved_;
    std::vector<bool> had_;
};

std::string readBytes(const std::wstring& path);
bool writeBytes(const std::wstring& path, const std::string& bytes);
bool removeTree(const std::wstring& path);

/// Folder of the running test program (programs of the build lie beside it).
std::wstring programFolder();
/// A program of the build beside the tests ("Velkaro", "standin_setup"), with ".exe" on Windows.
std::wstring siblingProgram(const std::wstring& baseName);

/// Sets or (with an empty value and unset=true) removes an environment variable.
void setEnv(const std::string& name, const std::wstring& value, bool unset = false);
std::wstring getEnv(const std::string& name);

}  // namespace testutil
