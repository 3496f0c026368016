#pragma once
// Helpers of the utility-library tests: capture of the library log hook, a recording logger,
// and read-only files.

#include <cstdarg>
#include <string>
#include <vector>

#include "logging/logger.h"

namespace supporttest {

struct LogRecord {
    zoka::LogLevel level;
    std::wstring libraryTag;  // "ZOKAUtils" through the hook; empty through a logger
    std::wstring moduleTag;
    std::wstring text;
};

/// Records every message of the library log hook while it lives (restores the hook after).
class LibraryLogCapture {
public:
    LibraryLogCapture();
    ~LibraryLogCapture();
    LibraryLogCapture(const LibraryLogCapture&) = delete;
    LibraryLogCapture& operator=(const LibraryLogCapture&) = delete;

    const std::vector<LogRecord>& records() const;
    void clear();
    /// Number of records at `level` whose text starts with `prefix`.
    int count(zoka::LogLevel level, const std::wstring& prefix) const;
    /// Every record, one per line, for failure messages.
    std::wstring dump() const;

private:
    zoka::LibraryLogCallback saved_;
};

/// A logger that keeps what it is given (wide messages only).
class RecordingLogger : public zoka::AbstractLogger {
public:
    using zoka::AbstractLogger::logV;
    void logV(zoka::LogLevel, const char*, const char*, const char*, va_list) override {}
    void logV(zoka::LogLevel level, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
              va_list args) override;

    std::vector<LogRecord> records;  // libraryTag holds tag1, moduleTag tag2
};

/// Makes a file or folder read-only (Windows attribute; POSIX: no owner write permission).
bool setReadOnly(const std::wstring& path, bool readOnly);
bool isReadOnly(const std::wstring& path);

}  // namespace supporttest
