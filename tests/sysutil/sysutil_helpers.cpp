#include "sysutil/sysutil_helpers.h"

#include <chrono>
#include <random>
#include <thread>

#include "base/unicode.h"
#include "logging/format.h"
#include "logging/registry.h"
#include "logging/shared_logger.h"
#include "test_util.h"

namespace sysutiltest {

namespace {

// Registered once and for good: the registry keeps the pointer for the process's lifetime.
class CaptureTarget : public zoka::LogTargetBase {
public:
    CaptureTarget() : LogTargetBase(L"KIV") {}
    bool openFile(zoka::FileHandle&) override { return false; }
    bool open() override { return opened = true; }
    bool close() override { return true; }
    bool write(zoka::LogLevel level, const wchar_t*, const wchar_t*, const wchar_t*,
               const wchar_t* context4, const char*, const char*, const char* format, va_list* args,
               int64_t) override {
        // Narrow arguments go with the narrow format: apply them before widening.
        const std::string text = format == nullptr || args == nullptr
                                     ? std::string(format ? format : "")
                                     : zoka::formatNarrow(format, *args, 1u << 20);
        return write(level, nullptr, nullptr, nullptr, context4, nullptr, nullptr,
                     zoka::fromUtf8(text).c_str(), nullptr, 0);
    }
    bool write(zoka::LogLevel level, const wchar_t*, const wchar_t*, const wchar_t*,
               const wchar_t* context4, const wchar_t*, const wchar_t*, const wchar_t* format,
               va_list* args, int64_t) override {
        if (!capturing || format == nullptr)
            return true;
        std::wstring message = format;
        if (args != nullptr)
            message = zoka::formatWide(format, *args, 1u << 20);
        lines.push_back(LoggedLine{level, context4 ? context4 : L"", message});
        return true;
    }
    bool capturing = false;
    std::vector<LoggedLine> lines;
};

CaptureTarget& captureTarget() {
    static CaptureTarget* const target = [] {
        getSharedLogger();  // its own target first, as in the program
        auto* t = new CaptureTarget();
        zoka::LogTargetRegistry::instance().addTarget(t);
        return t;
    }();
    return *target;
}

}  // namespace

SharedLogCapture::SharedLogCapture() {
    Logger& logger = getSharedLogger();
    saved_[0] = logger.debugEnabled;
    saved_[1] = logger.infoEnabled;
    saved_[2] = logger.errorEnabled;
    logger.debugEnabled = logger.infoEnabled = logger.errorEnabled = true;
    captureTarget().lines.clear();
    captureTarget().capturing = true;
}

SharedLogCapture::~SharedLogCapture() {
    Logger& logger = getSharedLogger();
    logger.debugEnabled = saved_[0];
    logger.infoEnabled = saved_[1];
    logger.errorEnabled = saved_[2];
    captureTarget().capturing = false;
    captureTarget().lines.clear();
}

std::vector<LoggedLine> SharedLogCapture::lines() const {
    return captureTarget().lines;
}

std::vector<std::wstring> SharedLogCapture::at(int level) const {
    std::vector<std::wstring> out;
    for (const auto& line : captureTarget().lines) {
        if (line.level == level)
            out.push_back(line.message);
    }
    return out;
}

std::string waitForContent(const std::wstring& path, const std::vector<std::string>& expected,
                           int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::string content = testutil::readBytes(path);
        for (const auto& e : expected) {
            if (content == e)
                return content;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return std::string();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::wstring uniqueLockName() {
    std::random_device rd;
    return L"Global\\{velkaro-test-lock-" + std::to_wstring(rd()) + L"-" + std::to_wstring(rd()) +
           L"}";
}

}  // namespace sysutiltest
