#include "logging/shared_logger.h"

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/format.h"
#include "logging/log_target.h"
#include "logging/registry.h"

using zoka::logfile::CrossProcessLock;

struct Logger::WriteLock {
    std::unique_ptr<CrossProcessLock> semaphore;
    bool held = false;
};

namespace {

constexpr wchar_t kSemaphoreName[] = L"Local\\{5071F542-DF26-4e46-810E-74570ED35255}";
// Messages of the log functions are formatted into 1023 characters with truncation.
constexpr size_t kMessageCapacity = 1023;

void logAt(Logger& logger, zoka::LogLevel level, const wchar_t* moduleTag, const wchar_t* format,
           va_list args) {
    if (format == nullptr)
        return;
    const std::wstring message = zoka::formatWide(format, args, kMessageCapacity);
    logger.lockedWrite(level, logger.context1, logger.context2, logger.context3, moduleTag,
                       message);
}

}  // namespace

Logger::Logger() {
    context1.clear();
    context2.clear();
    context3.clear();
    context4.clear();
    targetKey = zoka::fromUtf8("KIV");

    writeLock = std::make_unique<WriteLock>();
    writeLock->semaphore =
        CrossProcessLock::create(CrossProcessLock::Kind::kSemaphore, kSemaphoreName);

    sharedTarget = std::make_unique<zoka::LogTargetDefault>(L"KIV");
    sharedTarget->selectLevelFromMarkers();
    sharedTarget->setFile(L"Plimm.log", L"");
    registry.addTarget(sharedTarget.get());  // opens it: the file stays open while it lives
    context2 = L"KIV";
}

Logger::~Logger() {
    if (sharedTarget)
        registry.removeTarget(sharedTarget.get());
}

void Logger::lockedWrite(zoka::LogLevel level, const std::wstring& column1,
                         const std::wstring& column2, const std::wstring& column3,
                         const wchar_t* moduleTag, const std::wstring& message) {
    if (writeLock == nullptr || !writeLock->semaphore || !writeLock->semaphore->acquire())
        return;
    writeLock->held = true;
    // No argument list: the message is written as it is.
    registry.dispatch(L"KIV", level, column1.c_str(), column2.c_str(), column3.c_str(),
                      moduleTag != nullptr ? moduleTag : L"", L"", L"", message.c_str(), nullptr);
    if (writeLock->held) {
        writeLock->held = false;
        if (!writeLock->semaphore->release())
            writeLock->held = true;
    }
}

Logger& getSharedLogger() {
    // Created once, thread-safely, and never destroyed: utilities may log until the very end.
    static Logger* const shared = [] {
        std::wstring temp;
        if (zoka::os::getTempPath(temp) && !zoka::os::pathExists(temp)) {
            zoka::logfile::createFolder(temp);
        }
        return new Logger();
    }();
    return *shared;
}

void logDebug(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...) {
    if (!logger.debugEnabled)
        return;
    va_list args;
    va_start(args, format);
    logAt(logger, zoka::LEVEL_DEBUG, moduleTag, format, args);
    va_end(args);
}

void logInfo(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...) {
    if (!logger.infoEnabled)
        return;
    va_list args;
    va_start(args, format);
    logAt(logger, zoka::LEVEL_INFO, moduleTag, format, args);
    va_end(args);
}

void logError(Logger& logger, const wchar_t* moduleTag, const wchar_t* format, ...) {
    if (!logger.errorEnabled)
        return;
    va_list args;
    va_start(args, format);
    logAt(logger, zoka::LEVEL_ERROR, moduleTag, format, args);
    va_end(args);
}
