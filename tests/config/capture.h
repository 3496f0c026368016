#pragma once
// Captures what the program's own components write: log lines sent to the key "Velkaro" and
// console lines. Header-only, so the config and engine test folders can share it.

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include "base/unicode.h"
#include "logging/format.h"
#include "logging/registry.h"
#include "support/console.h"

namespace configtest {

struct LogLine {
    zoka::LogLevel level;
    std::wstring tag1;
    std::wstring tag2;
    std::wstring message;  // the format with its arguments applied
};

namespace detail {

/// Registered once under "Velkaro" for the whole test program (the registry keeps targets for
/// ever); it records only while a LogCapture is alive.
class CaptureTarget : public zoka::LogTargetBase {
public:
    CaptureTarget() : zoka::LogTargetBase(L"Velkaro") {}

    static CaptureTarget& instance() {
        static CaptureTarget* target = [] {
            auto* t = new CaptureTarget;  // lives as long as the registry that refers to it
            zoka::LogTargetRegistry::instance().addTarget(t);
            return t;
        }();
        return *target;
    }

    bool openFile(zoka::FileHandle&) override { return true; }
    bool open() override { return true; }
    bool close() override { return true; }

    bool write(zoka::LogLevel level, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
               const char* tag1, const char* tag2, const char* format, va_list* args,
               int64_t) override {
        std::string text = args ? zoka::formatNarrow(format, *args, 1 << 20) : format;
        record({level, zoka::fromUtf8(tag1 ? tag1 : ""), zoka::fromUtf8(tag2 ? tag2 : ""),
                zoka::fromUtf8(text)});
        return true;
    }
    bool write(zoka::LogLevel level, const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
               const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format, va_list* args,
               int64_t) override {
        std::wstring text = args ? zoka::formatWide(format, *args, 1 << 20) : format;
        record({level, tag1 ? tag1 : L"", tag2 ? tag2 : L"", text});
        return true;
    }

    void arm(std::vector<LogLine>* sink) {
        std::lock_guard<std::mutex> guard(mutex_);
        sink_ = sink;
    }

private:
    void record(LogLine line) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (sink_)
            sink_->push_back(std::move(line));
    }

    std::mutex mutex_;
    std::vector<LogLine>* sink_ = nullptr;
};

}  // namespace detail

/// Records every log line sent to "Velkaro" while it lives.
class LogCapture {
public:
    LogCapture() { detail::CaptureTarget::instance().arm(&lines); }
    ~LogCapture() { detail::CaptureTarget::instance().arm(nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    /// The messages only, in order.
    std::vector<std::wstring> messages() const {
        std::vector<std::wstring> result;
        for (const LogLine& line : lines)
            result.push_back(line.message);
        return result;
    }
    /// The messages at one level, in order.
    std::vector<std::wstring> messagesAt(zoka::LogLevel level) const {
        std::vector<std::wstring> result;
        for (const LogLine& line : lines)
            if (line.level == level)
                result.push_back(line.message);
        return result;
    }

    std::vector<LogLine> lines;
};

/// Records standard-output and standard-error lines instead of writing them while it lives.
class ConsoleCapture {
public:
    ConsoleCapture() {
        zoka::console::setSink([this](zoka::console::Stream stream, const std::wstring& text) {
            std::lock_guard<std::mutex> guard(mutex_);
            (stream == zoka::console::Stream::Out ? out : err).push_back(text);
        });
    }
    ~ConsoleCapture() { zoka::console::setSink({}); }
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::vector<std::wstring> out;
    std::vector<std::wstring> err;

private:
    std::mutex mutex_;
};

}  // namespace configtest
