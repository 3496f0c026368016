#pragma once
// Levels, the logging interface every component writes through, and the support libraries'
// log hook. Loggers format nothing and touch no file: they hand each message to the targets
// registered under their key (see registry.h).

#include <cstdarg>
#include <string>

namespace zoka {

/// A log level: a plain signed integer, larger is more severe. Targets compare numerically.
using LogLevel = int;

// Named without the bare words ERROR and DEBUG, which Windows headers and build flags define.
inline constexpr LogLevel LEVEL_TRACE = 10;
inline constexpr LogLevel LEVEL_DEBUG = 20;
inline constexpr LogLevel LEVEL_INFO = 30;
inline constexpr LogLevel LEVEL_WARN = 40;
inline constexpr LogLevel LEVEL_ERROR = 50;
inline constexpr LogLevel LEVEL_FATAL = 60;
inline constexpr LogLevel LEVEL_NONE = 70;

/// "TRACE" ... "NONE" for the listed values; "ALL" for any other value.
std::wstring levelName(LogLevel level);

/// The logging interface. In every format, %s takes a string of the format's own width (a
/// wide string in the wide operations) on every platform. A null format does nothing; a null
/// tag is an empty column. Only logV differs between loggers.
class AbstractLogger {
public:
    virtual void trace(const char* format, ...);
    virtual void trace(const wchar_t* format, ...);
    virtual void debug(const char* format, ...);
    virtual void debug(const wchar_t* format, ...);
    virtual void info(const char* format, ...);
    virtual void info(const wchar_t* format, ...);
    virtual void warn(const char* tag, const char* format, ...);
    virtual void warn(const wchar_t* tag, const wchar_t* format, ...);
    virtual void error(const char* tag, const char* format, ...);
    virtual void error(const wchar_t* tag, const wchar_t* format, ...);
    virtual void fatal(const char* tag, const char* format, ...);
    virtual void fatal(const wchar_t* tag, const wchar_t* format, ...);
    virtual void log(LogLevel level, const char* tag1, const char* tag2, const char* format, ...);
    virtual void log(LogLevel level, const wchar_t* tag1, const wchar_t* tag2,
                     const wchar_t* format, ...);
    /// The argument list is only read through va_copy, so the caller's list stays usable.
    virtual void logV(LogLevel level, const char* tag1, const char* tag2, const char* format,
                      va_list args) = 0;
    virtual void logV(LogLevel level, const wchar_t* tag1, const wchar_t* tag2,
                      const wchar_t* format, va_list args) = 0;

protected:
    AbstractLogger() = default;
    AbstractLogger(const AbstractLogger&) = default;
    AbstractLogger& operator=(const AbstractLogger&) = default;
    ~AbstractLogger() = default;
};

class LogTargetRegistry;

/// The logger each component creates for itself. Default: key "Velkaro", columns
/// "", "Zeph", "Utilities", "Velkaro".
class Logger : public AbstractLogger {
public:
    Logger();
    virtual ~Logger() = default;

    using AbstractLogger::logV;
    void logV(LogLevel level, const char* tag1, const char* tag2, const char* format,
              va_list args) override;
    void logV(LogLevel level, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
              va_list args) override;

    LogTargetRegistry& registry;
    std::wstring context1;
    std::wstring context2;
    std::wstring context3;
    std::wstring context4;
    std::wstring targetKey;
};

/// The support libraries' hook. The variadic arguments arrive as a prepared list.
using LibraryLogCallback = void (*)(LogLevel level, const wchar_t* libraryTag,
                                    const wchar_t* moduleTag, const wchar_t* tag3,
                                    const wchar_t* tag4, const wchar_t* format, va_list args);

/// Both start empty; only LibraryLogDetail sets libraryLogger.
extern LibraryLogCallback libraryLogCallback;
extern AbstractLogger* libraryLogger;

/// While alive, makes `logger` the support libraries' logger when `threshold` (a target's,
/// set by the trace and debug markers) is DEBUG or lower, so that an administrator who asks
/// for detail gets their lines too; otherwise changes nothing. Restores the previous hook.
class LibraryLogDetail {
public:
    LibraryLogDetail(AbstractLogger& logger, int threshold);
    ~LibraryLogDetail();
    LibraryLogDetail(const LibraryLogDetail&) = delete;
    LibraryLogDetail& operator=(const LibraryLogDetail&) = delete;
    bool connected() const { return connected_; }

private:
    AbstractLogger* previous_ = nullptr;
    bool connected_ = false;
};

/// A support-library message: to `own` when set (its wide log, tag1 empty, tag2 the module),
/// else to libraryLogCallback (library tag "ZOKAUtils"), else to libraryLogger, else nowhere.
void libraryLog(AbstractLogger* own, LogLevel level, const wchar_t* moduleTag,
                const wchar_t* format, ...);

}  // namespace zoka
