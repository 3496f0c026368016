#pragma once
// The process and temporary-folder utilities' shared log ("Plimm.log" in the temporary folder,
// target "KIV"), written under a cross-process semaphore. Its level switches start off and
// nothing turns them on, so the log functions write nothing in this program; creating the
// logger still creates the file and keeps it open.

#include <memory>
#include <string>

#include "logging/logger.h"

namespace zoka {
class LogTargetDefault;
}

class Logger : public zoka::Logger {
public:
    Logger();
    /// Takes the target out of the registry before it goes.
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    std::unique_ptr<zoka::LogTargetDefault> sharedTarget;
    struct WriteLock;
    std::unique_ptr<WriteLock> writeLock;
    bool traceEnabled = false;
    bool debugEnabled = false;
    bool infoEnabled = false;
    bool warnEnabled = false;
    bool errorEnabled = false;
    bool fatalEnabled = false;

    /// Writes one finished message under the semaphore.
    void lockedWrite(zoka::LogLevel level, const std::wstring& context1,
                     const std::wstring& context2, const std::wstring& context3,
                     const wchar_t* moduleTag, const std::wstring& message);
};

/// The shared logger, created on first call and alive until the process ends.
Logger& getSharedLogger();

void logDebug(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...);
void logInfo(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...);
void logError(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...);
