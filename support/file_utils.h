#pragma once
// Path and file operations of the utility library (module "FileUtils"). Messages go through the
// library log hook; the delete operations prefer the logger they are given.
//
// On POSIX the joins use '/', the base folders come from $CommonProgramFiles / $ProgramFiles
// (else "/opt/Common Files" and "/opt"), a read-only entry is one without the owner's write
// permission, and the error numbers reported are errno values.

#include <string>

namespace zoka {

class AbstractLogger;

/// The maker's folder under the common program files folder ("...\Quenda"). The path is
/// written only on success. Neither checks nor creates the folder.
bool getMakerCommonFilesFolder(std::wstring& path);

/// The product folder under the program files folder ("...\Quenda\Quenda Loomwork"). The path
/// is written only on success.
bool getMakerProductFolder(std::wstring& path);

/// Replaces `path` by its parent folder (trailing separators are stripped first).
bool removeFileSpec(std::wstring& path);

/// Joins `more` to `base` with one separator; `base` receives the result whatever the outcome.
bool appendPath(std::wstring& base, const std::wstring& more);

/// True when `path` is (now) a folder; a missing folder is created with its parents.
bool ensureFolder(const std::wstring& path);

/// Removes the folder `path`, with `recursive` everything in it first. A link inside the tree
/// (symbolic link, junction) is removed as a link, never followed. `failedPath` receives the
/// last file that could not be deleted and is otherwise left as it was. True when the folder
/// itself is gone.
bool deleteDirectory(const std::wstring& path, std::wstring& failedPath, bool recursive,
                     bool removeReadOnly, AbstractLogger* logger = nullptr,
                     bool logSuccess = false);

/// Creates or truncates `path` and writes `text` as UTF-8 without a byte-order mark, flushed
/// to disk. On POSIX a link or a non-regular file at `path` is refused.
bool writeTextFile(const std::wstring& path, const std::wstring& text);

/// Reads a whole text file: a byte-order mark chooses UTF-8 or UTF-16LE (UTF-8 without one),
/// CR LF reads as LF. False (and an empty text) only when the file cannot be opened.
bool readTextFile(const std::wstring& path, std::wstring& text);

/// True when `path` is gone (a missing file counts). With `removeReadOnly` a read-only file that
/// is refused gets its read-only attribute cleared and one more attempt.
bool deleteFile(const std::wstring& path, bool removeReadOnly, AbstractLogger* logger = nullptr);

}  // namespace zoka
