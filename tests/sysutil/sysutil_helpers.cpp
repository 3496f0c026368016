#include "sysutil/sysutil_helpers.h"

#include <chrono>
#include <random>
#include <thread>

#include "logging/format.h"
#include "logging/registry.h"
#include "logging/shared_logger.h"
#include "support/unicode.h"
#include "test_util.h"

namespace sysutiltest {

std::wstring JournalRecord::get(const std::string& key) const {
    auto it = values.find(key);
    return it == values.end() || it->second.empty() ? std::wstring() : it->second.front();
}

const std::vector<std::wstring>& JournalRecord::args() const {
    static const std::vector<std::wstring> none;
    auto it = values.find("arg");
    return it == values.end() ? none : it->second;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string unescape(const std::string& value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '%' && i + 2 < value.size() && hexDigit(value[i + 1]) >= 0 &&
            hexDigit(value[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(value[i + 1]) * 16 + hexDigit(value[i + 2]));
            i += 2;
        } else {
            out += value[i];
        }
    }
    return out;
}

}  // namespace

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
        return write(level, nullptr, nullptr, nullptr, context4, nullptr, nullptr,
                     zoka::fromUtf8(format ? format : "").c_str(), args, 0);
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

std::vector<JournalRecord> readJournal(const std::wstring& path) {
    std::vector<JournalRecord> records;
    const std::string bytes = testutil::readBytes(path);
    JournalRecord current;
    bool open = false;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            break;  // the last line is incomplete
        const std::string line = bytes.substr(start, end - start);
        start = end + 1;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "record" && value == "begin") {
            current = JournalRecord();
            open = true;
        } else if (key == "record" && value == "end") {
            if (open)
                records.push_back(current);
            open = false;
        } else if (open) {
            current.values[key].push_back(zoka::fromUtf8(unescape(value)));
        }
    }
    return records;
}

std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 0xF];
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
