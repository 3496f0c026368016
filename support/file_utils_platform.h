#pragma once
// The path primitives under the portable file utilities, one implementation per platform.
// Internal to the utility library.

#include <string>

namespace zoka::fileplatform {

/// Removes the last component of a path that has no trailing separator (PathRemoveFileSpecW);
/// false when nothing was removed.
bool removeLastComponent(std::wstring& path);

/// Appends `more` to `base` with one separator between them (PathAppendW); false when the
/// platform refuses the result. `base` receives whatever the platform produced.
bool joinPath(std::wstring& base, const std::wstring& more);

/// Creates the folder and every missing parent (SHCreateDirectoryExW); 0 or the error code.
int createFolderTree(const std::wstring& path);

}  // namespace zoka::fileplatform
