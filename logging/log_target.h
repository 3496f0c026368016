#pragma once
// The file log target: one UTF-16LE line per message, a threshold chosen from marker files,
// a byte-order mark on new files, foreign files moved aside, rotation below 10 MiB, and a
// cross-process lock named after the bare file name around every line. Below it, the file,
// lock and clock operations that the target needs, implemented once per platform.

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "logging/registry.h"

namespace zoka {

namespace logfile {

/// A named cross-process lock: on Windows a mutex (log files) or a semaphore with count 1
/// (the shared log), on POSIX a zoka::posix::NamedLock.
class CrossProcessLock {
public:
    enum class Kind { kMutex, kSemaphore };

    /// Creates the lock, or opens it when another process has created it; null on failure,
    /// with the reason in `whyNot` when given.
    static std::unique_ptr<CrossProcessLock> create(Kind kind, const std::wstring& name,
                                                    std::wstring* whyNot = nullptr);
    ~CrossProcessLock();
    CrossProcessLock(const CrossProcessLock&) = delete;
    CrossProcessLock& operator=(const CrossProcessLock&) = delete;

    /// Waits without time limit. False when the wait failed, or when it found a mutex left
    /// behind by an owner that died: that one is given back at once, since keeping it would
    /// block every writer for ever.
    bool acquire();
    bool release();

private:
    struct Impl;
    explicit CrossProcessLock(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

/// Milliseconds since 1970-01-01 00:00 UTC.
int64_t nowMs();

/// The calling thread's identifier as the log shows it (zoka::os::currentThreadId), without a
/// system call per line.
unsigned long threadId();

struct LocalTime {
    int year = 0;
    int month = 0;  // 1-12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

/// The fields of the C runtime's broken-down time.
LocalTime fromTm(const std::tm& tm);

/// Local broken-down time of `seconds` since 1970 (the C runtime's conversion); false when
/// the platform cannot convert it.
bool toLocalTime(int64_t seconds, LocalTime& out);

/// The current local time (GetLocalTime on Windows).
LocalTime localNow();

/// `path` with " M-d-yyyy HH-mm-ss" inserted before the extension of its last element:
/// C:\Temp\Velkaro.log -> C:\Temp\Velkaro 12-7-2026 14-05-09.log.
std::wstring stampedName(const std::wstring& path, const LocalTime& when);

/// True when the file begins with FF FE or FE FF, or cannot be opened as a regular file
/// (usually: it does not exist). An empty or one-byte file is not UTF-16.
bool looksUtf16(const std::wstring& path);

/// True when something that this process must not write into has the name: on POSIX
/// anything but a regular file of this user that nobody else can write and that has no other
/// name. Never on Windows, where the temporary folder is the user's own.
bool isForeign(const std::wstring& path);

/// False when the open file lost its name (a temporary-folder cleaner deleted it, or put
/// another file in its place). Always true on Windows, where an open log file cannot be
/// deleted.
bool isStillNamed(const FileHandle& file, const std::wstring& path);

/// Opens an existing regular file for writing at its end, shared with other writers. Never
/// follows a symbolic link, and refuses a foreign file, on POSIX.
FileHandle openForAppend(const std::wstring& path);

/// True when anything, a dangling link included, has the name.
bool nameTaken(const std::wstring& path);

/// Creates a new file for writing; fails when anything, a link included, has that name.
FileHandle createNew(const std::wstring& path);

/// Writes all bytes at the end of the file.
bool appendAtEnd(const FileHandle& file, const void* data, size_t size);

/// Size of the regular file at `path`.
bool fileSize(const std::wstring& path, int64_t& size);

/// Renames without replacing an existing entry and without following links.
bool renameNoReplace(const std::wstring& from, const std::wstring& to);

/// Copies the regular file `from` to the new file `to` and flushes the copy to disk. Never
/// replaces an existing file; a copy that fails half-way is removed again.
bool copyToNewFile(const std::wstring& from, const std::wstring& to);

/// Empties the regular file at `path` and writes `data` as its new beginning.
bool resetFile(const std::wstring& path, const void* data, size_t size);

/// Creates a folder with all missing parents; true when it exists afterwards.
bool createFolderTree(const std::wstring& path);

/// Creates one folder level; true when created.
bool createFolder(const std::wstring& path);

}  // namespace logfile

/// The concrete log target. Fields and operations follow LogTargetBase; every path operation
/// keeps to 259 characters, as the Windows path buffers do.
class LogTargetDefault : public LogTargetBase {
public:
    static constexpr int64_t kRotateSize = 10485760;     // 10 MiB
    static constexpr int64_t kSizeCheckInterval = 3600;  // seconds of message time

    explicit LogTargetDefault(const std::wstring& targetName = std::wstring());
    ~LogTargetDefault() override;

    /// Threshold from the markers ZOKA.trace, ZOKA.debug, kiv.trace, kiv.debug in the
    /// temporary folder (existence only), else INFO.
    void selectLevelFromMarkers();

    /// Chooses the file: a bare name (null or empty keeps the current one) in `folder` (null
    /// or empty: the temporary folder, created if missing). Creates the file now. False, and
    /// the target disabled, when the name has a folder part, the path exceeds 259 characters
    /// or the file can be neither opened nor created.
    bool setFile(const wchar_t* newFileName, const wchar_t* folder);
    bool setFile(const std::wstring& newFileName, const std::wstring& folder) {
        return setFile(newFileName.c_str(), folder.c_str());
    }

    bool openFile(FileHandle& handle) override;
    bool open() override;
    bool close() override;
    bool write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
               const wchar_t* context3, const wchar_t* context4, const char* tag1, const char* tag2,
               const char* format, va_list* args, int64_t timeMs) override;
    bool write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
               const wchar_t* context3, const wchar_t* context4, const wchar_t* tag1,
               const wchar_t* tag2, const wchar_t* format, va_list* args, int64_t timeMs) override;

    /// Copies a file of 10 MiB or more to its stamped name and empties it; run under the lock.
    bool checkSizeAndRotate();
    /// Renames a file that is not UTF-16 to its stamped name; run under the lock.
    bool moveAsideForeignFile();

    std::unique_ptr<logfile::CrossProcessLock> fileLock;
    std::wstring movedAsidePath;
    int64_t lastSizeCheck = 0;
    int64_t lastMessageTime = 0;

    /// Told, in one sentence, whatever keeps the log from being where it should be or from
    /// holding every line (the program shows it on standard error); unset: nobody is told.
    std::function<void(const std::wstring& text)> onNotice;
    /// The file the log is written to now (another name than the one chosen when that one was
    /// taken); empty when no log file is open.
    std::wstring writtenPath() const { return fileHandle.valid() ? filePath : std::wstring(); }
    /// Lines that could be written nowhere.
    uint64_t lostLines = 0;

private:
    bool createElsewhere(FileHandle& handle);
    bool lossTold_ = false;  // standard error already knows that lines go nowhere
    void notice(const std::wstring& text) const {
        if (onNotice)
            onNotice(text);
    }

    bool openFileLocked(FileHandle& handle);
    void writeLine(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                   const wchar_t* context3, const wchar_t* context4, const wchar_t* tag1,
                   const wchar_t* tag2, const std::wstring& message, int64_t timeMs);
};

}  // namespace zoka
