#pragma once
// The process-wide registry where loggers meet log targets by key, and the abstract target.

#include <cstdarg>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "logging/file_handle.h"
#include "logging/logger.h"

namespace zoka {

/// Abstract log target. `args` in write: a prepared argument list to format from (read only
/// through va_copy, since the registry hands the same list to every target of a key), or null
/// when the format is the finished message. `timeMs`: milliseconds since 1970-01-01 UTC, 0 = now.
class LogTargetBase {
public:
    explicit LogTargetBase(const std::wstring& targetName = std::wstring());
    virtual ~LogTargetBase();
    LogTargetBase(const LogTargetBase&) = delete;
    LogTargetBase& operator=(const LogTargetBase&) = delete;

    /// Opens (creating if needed) the file at filePath into `handle`.
    virtual bool openFile(FileHandle& handle) = 0;
    virtual bool open() = 0;
    virtual bool close() = 0;
    virtual bool write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                       const wchar_t* context3, const wchar_t* context4, const char* tag1,
                       const char* tag2, const char* format, va_list* args, int64_t timeMs) = 0;
    virtual bool write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                       const wchar_t* context3, const wchar_t* context4, const wchar_t* tag1,
                       const wchar_t* tag2, const wchar_t* format, va_list* args,
                       int64_t timeMs) = 0;

    std::wstring name;
    std::wstring separator;
    std::wstring fileName;
    std::wstring filePath;
    int threshold;
    FileHandle fileHandle;
    bool enabled;
    bool opened;
};

/// Orders keys by UTF-16 code units on every build.
struct Utf16Less {
    using is_transparent = void;  // lets a lookup take a view, with no string built per message
    bool operator()(std::wstring_view a, std::wstring_view b) const;
};

class LogTargetRegistry {
public:
    /// The one registry, created on first use (thread-safe).
    static LogTargetRegistry& instance();

    /// Opens the target and registers it under its name; false (and no change) when null or
    /// when its open fails. Adding the same target twice keeps one entry.
    bool addTarget(LogTargetBase* target);

    /// Forgets a target wherever it is registered. A target calls this as it is destroyed, so
    /// a message sent to its key afterwards is dropped instead of reaching a dead object.
    void removeTarget(const LogTargetBase* target);

    void dispatch(const wchar_t* key, LogLevel level, const wchar_t* context1,
                  const wchar_t* context2, const wchar_t* context3, const wchar_t* context4,
                  const char* tag1, const char* tag2, const char* format, va_list* args);
    void dispatch(const wchar_t* key, LogLevel level, const wchar_t* context1,
                  const wchar_t* context2, const wchar_t* context3, const wchar_t* context4,
                  const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format, va_list* args);

private:
    LogTargetRegistry() = default;
    /// The targets registered under `key`; none for a null or unknown key.
    const std::vector<LogTargetBase*>& targetsFor(const wchar_t* key) const;

    std::map<std::wstring, std::vector<LogTargetBase*>, Utf16Less> targets_;
};

}  // namespace zoka
