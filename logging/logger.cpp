#include "logging/logger.h"

#include "logging/registry.h"

namespace zoka {

std::wstring levelName(LogLevel level) {
    switch (level) {
        case LEVEL_TRACE:
            return L"TRACE";
        case LEVEL_DEBUG:
            return L"DEBUG";
        case LEVEL_INFO:
            return L"INFO";
        case LEVEL_WARN:
            return L"WARN";
        case LEVEL_ERROR:
            return L"ERROR";
        case LEVEL_FATAL:
            return L"FATAL";
        case LEVEL_NONE:
            return L"NONE";
        default:
            return L"ALL";
    }
}

namespace {

template <typename Ch>
const Ch* orEmpty(const Ch* text) {
    static constexpr Ch kEmpty[1] = {};
    return text != nullptr ? text : kEmpty;
}

// What every variadic operation does once it has gathered its arguments: a null format does
// nothing; a null tag becomes the empty string.
template <typename Ch>
void toLogV(AbstractLogger& logger, LogLevel level, const Ch* tag1, const Ch* tag2,
            const Ch* format, va_list args) {
    if (format != nullptr)
        logger.logV(level, orEmpty(tag1), orEmpty(tag2), format, args);
}

}  // namespace

// va_start has to run in each variadic operation itself; the rest is shared.

void AbstractLogger::trace(const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_TRACE, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::trace(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_TRACE, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::debug(const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_DEBUG, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::debug(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_DEBUG, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_INFO, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::info(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_INFO, nullptr, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::warn(const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_WARN, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::warn(const wchar_t* tag, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_WARN, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::error(const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_ERROR, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::error(const wchar_t* tag, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_ERROR, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::fatal(const char* tag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, LEVEL_FATAL, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::fatal(const wchar_t* tag, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, LEVEL_FATAL, tag, nullptr, format, args);
    va_end(args);
}

void AbstractLogger::log(LogLevel level, const char* tag1, const char* tag2, const char* format,
                         ...) {
    va_list args;
    va_start(args, format);
    toLogV<char>(*this, level, tag1, tag2, format, args);
    va_end(args);
}

void AbstractLogger::log(LogLevel level, const wchar_t* tag1, const wchar_t* tag2,
                         const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    toLogV<wchar_t>(*this, level, tag1, tag2, format, args);
    va_end(args);
}

Logger::Logger()
    : registry(LogTargetRegistry::instance()),
      context2(L"Zeph"),
      context3(L"Utilities"),
      context4(L"Velkaro"),
      targetKey(L"Velkaro") {}

namespace {

// The registry hands one list to several targets; each reads its own copy, and so does this
// layer, so the caller's list is never consumed.
template <typename Ch>
void dispatchCopy(Logger& logger, LogLevel level, const Ch* tag1, const Ch* tag2, const Ch* format,
                  va_list args) {
    va_list copy;
    va_copy(copy, args);
    logger.registry.dispatch(logger.targetKey.c_str(), level, logger.context1.c_str(),
                             logger.context2.c_str(), logger.context3.c_str(),
                             logger.context4.c_str(), tag1, tag2, format, &copy);
    va_end(copy);
}

}  // namespace

void Logger::logV(LogLevel level, const char* tag1, const char* tag2, const char* format,
                  va_list args) {
    dispatchCopy(*this, level, tag1, tag2, format, args);
}

void Logger::logV(LogLevel level, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
                  va_list args) {
    dispatchCopy(*this, level, tag1, tag2, format, args);
}

LibraryLogCallback libraryLogCallback = nullptr;
AbstractLogger* libraryLogger = nullptr;

LibraryLogDetail::LibraryLogDetail(AbstractLogger& logger, int threshold) {
    if (threshold > LEVEL_DEBUG)
        return;
    previous_ = libraryLogger;
    libraryLogger = &logger;
    connected_ = true;
}

LibraryLogDetail::~LibraryLogDetail() {
    if (connected_)
        libraryLogger = previous_;
}

void libraryLog(AbstractLogger* own, LogLevel level, const wchar_t* moduleTag,
                const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    if (moduleTag == nullptr)
        moduleTag = L"";
    AbstractLogger* logger = own;
    va_list args;
    va_start(args, format);
    if (logger == nullptr && libraryLogCallback != nullptr) {
        va_list copy;
        va_copy(copy, args);
        libraryLogCallback(level, L"ZOKAUtils", moduleTag, L"", L"", format, copy);
        va_end(copy);
    } else {
        if (logger == nullptr)
            logger = libraryLogger;
        if (logger != nullptr)
            logger->logV(level, L"", moduleTag, format, args);
    }
    va_end(args);
}

}  // namespace zoka
