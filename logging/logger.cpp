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

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}
const wchar_t* orEmpty(const wchar_t* text) {
    return text != nullptr ? text : L"";
}

}  // namespace

// Every variadic operation gathers its arguments and hands them to logV of its own width.
// A null format does nothing; a null tag becomes the empty string.

void AbstractLogger::trace(const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_TRACE, "", "", format, args);
    va_end(args);
}

void AbstractLogger::trace(const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_TRACE, L"", L"", format, args);
    va_end(args);
}

void AbstractLogger::debug(const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_DEBUG, "", "", format, args);
    va_end(args);
}

void AbstractLogger::debug(const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_DEBUG, L"", L"", format, args);
    va_end(args);
}

void AbstractLogger::info(const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_INFO, "", "", format, args);
    va_end(args);
}

void AbstractLogger::info(const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_INFO, L"", L"", format, args);
    va_end(args);
}

void AbstractLogger::warn(const char* tag, const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_WARN, orEmpty(tag), "", format, args);
    va_end(args);
}

void AbstractLogger::warn(const wchar_t* tag, const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_WARN, orEmpty(tag), L"", format, args);
    va_end(args);
}

void AbstractLogger::error(const char* tag, const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_ERROR, orEmpty(tag), "", format, args);
    va_end(args);
}

void AbstractLogger::error(const wchar_t* tag, const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_ERROR, orEmpty(tag), L"", format, args);
    va_end(args);
}

void AbstractLogger::fatal(const char* tag, const char* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_FATAL, orEmpty(tag), "", format, args);
    va_end(args);
}

void AbstractLogger::fatal(const wchar_t* tag, const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(LEVEL_FATAL, orEmpty(tag), L"", format, args);
    va_end(args);
}

void AbstractLogger::log(LogLevel level, const char* tag1, const char* tag2, const char* format,
                         ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(level, orEmpty(tag1), orEmpty(tag2), format, args);
    va_end(args);
}

void AbstractLogger::log(LogLevel level, const wchar_t* tag1, const wchar_t* tag2,
                         const wchar_t* format, ...) {
    if (format == nullptr)
        return;
    va_list args;
    va_start(args, format);
    logV(level, orEmpty(tag1), orEmpty(tag2), format, args);
    va_end(args);
}

Logger::Logger()
    : registry(LogTargetRegistry::instance()),
      context2(L"Zeph"),
      context3(L"Utilities"),
      context4(L"Velkaro"),
      targetKey(L"Velkaro") {}

// The registry hands one list to several targets; each reads its own copy, and so does this
// layer, so the caller's list is never consumed.
void Logger::logV(LogLevel level, const char* tag1, const char* tag2, const char* format,
                  va_list args) {
    va_list copy;
    va_copy(copy, args);
    registry.dispatch(targetKey.c_str(), level, context1.c_str(), context2.c_str(),
                      context3.c_str(), context4.c_str(), tag1, tag2, format, &copy);
    va_end(copy);
}

void Logger::logV(LogLevel level, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
                  va_list args) {
    va_list copy;
    va_copy(copy, args);
    registry.dispatch(targetKey.c_str(), level, context1.c_str(), context2.c_str(),
                      context3.c_str(), context4.c_str(), tag1, tag2, format, &copy);
    va_end(copy);
}

LibraryLogCallback libraryLogCallback = nullptr;
AbstractLogger* libraryLogger = nullptr;

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
