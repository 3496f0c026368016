#include "logging/log_target.h"

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/format.h"
#include "logging/log_line.h"

namespace zoka {
namespace {

// The Windows path buffers hold 260 characters with the terminator.
constexpr size_t kMaxPath = 259;
constexpr unsigned char kByteOrderMark[] = {0xFF, 0xFE};
// Messages are formatted into 4095 characters (the line target) with truncation.
constexpr size_t kMessageCapacity = 4095;

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

/// folder + separator + name, as PathAppendW joins them; false past kMaxPath.
bool joinPath(const std::wstring& folder, const std::wstring& name, std::wstring& out) {
    std::wstring joined = folder;
    if (!joined.empty() && !isSeparator(joined.back()))
        joined.push_back(os::pathSeparator());
    joined += name;
    if (joined.size() > kMaxPath)
        return false;
    out = joined;
    return true;
}

size_t lastElementStart(const std::wstring& path) {
    const size_t sep = path.find_last_of(L"\\/");
    return sep == std::wstring::npos ? 0 : sep + 1;
}

/// Replaces the extension of the last element (or adds one), as PathRenameExtensionW does.
std::wstring withExtension(const std::wstring& path, const wchar_t* extension) {
    const size_t dot = path.rfind(L'.');
    const size_t stem =
        (dot == std::wstring::npos || dot < lastElementStart(path)) ? path.size() : dot;
    return path.substr(0, stem) + extension;
}

// A file name must be bare: no folder part and no drive.
bool isBareName(const std::wstring& name) {
    return name.find_first_of(L"\\/:") == std::wstring::npos;
}

// UTF-16LE bytes of a wide string, whatever the machine's byte order.
void appendUtf16le(std::string& out, const std::wstring& text) {
    const std::u16string units = toUtf16(text);
    const size_t start = out.size();
    out.resize(start + 2 * units.size());
    char* p = &out[start];
    for (const char16_t unit : units) {
        *p++ = static_cast<char>(unit & 0xFF);
        *p++ = static_cast<char>(unit >> 8);
    }
}

// How many counted variants of a stamped name are tried before giving up.
constexpr int kMaxStampedVariants = 100;

/// Variant `n` of a stamped name: the name itself for 1, else " (n)" before the extension.
std::wstring stampedVariant(const std::wstring& stamped, int n) {
    if (n <= 1 || stamped.empty())
        return stamped;
    const size_t dot = stamped.rfind(L'.');
    const size_t stem =
        (dot == std::wstring::npos || dot < lastElementStart(stamped)) ? stamped.size() : dot;
    const std::wstring name =
        stamped.substr(0, stem) + L" (" + std::to_wstring(n) + L")" + stamped.substr(stem);
    return name.size() > kMaxPath ? std::wstring() : name;
}

// Holds a lock for a scope when it could be taken.
class LockScope {
public:
    explicit LockScope(logfile::CrossProcessLock* lock)
        : lock_(lock), held_(lock != nullptr && lock->acquire()) {}
    ~LockScope() {
        if (held_)
            lock_->release();
    }
    LockScope(const LockScope&) = delete;
    LockScope& operator=(const LockScope&) = delete;
    bool held() const { return held_; }

private:
    logfile::CrossProcessLock* lock_;
    bool held_;
};

}  // namespace

namespace logfile {

LocalTime fromTm(const std::tm& tm) {
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    return t;
}

std::wstring stampedName(const std::wstring& path, const LocalTime& when) {
    if (path.empty())
        return std::wstring();
    const size_t dot = path.rfind(L'.');
    const size_t stem =
        (dot == std::wstring::npos || dot < lastElementStart(path)) ? path.size() : dot;
    auto two = [](int v) {
        return std::wstring(1, static_cast<wchar_t>(L'0' + (v / 10) % 10)) +
               static_cast<wchar_t>(L'0' + v % 10);
    };
    return path.substr(0, stem) + L' ' + std::to_wstring(when.month) + L'-' +
           std::to_wstring(when.day) + L'-' + std::to_wstring(when.year) + L' ' + two(when.hour) +
           L'-' + two(when.minute) + L'-' + two(when.second) + path.substr(stem);
}

}  // namespace logfile

LogTargetDefault::LogTargetDefault(const std::wstring& targetName) : LogTargetBase(targetName) {
    selectLevelFromMarkers();
}

LogTargetDefault::~LogTargetDefault() {
    close();
}

void LogTargetDefault::selectLevelFromMarkers() {
    threshold = LEVEL_INFO;
    std::wstring folder;
    if (!os::getTempPath(folder))
        return;
    std::wstring path;
    if (!joinPath(folder, withExtension(fileName, L".trace"), path))
        return;
    if (os::pathExists(path)) {
        threshold = LEVEL_TRACE;
        return;
    }
    path = withExtension(path, L".debug");
    if (path.size() <= kMaxPath && os::pathExists(path)) {
        threshold = LEVEL_DEBUG;
        return;
    }
    const std::wstring parent = path.substr(0, lastElementStart(path));
    if (joinPath(parent, L"kiv.trace", path) && os::pathExists(path)) {
        threshold = LEVEL_TRACE;
        return;
    }
    if (joinPath(parent, L"kiv.debug", path) && os::pathExists(path))
        threshold = LEVEL_DEBUG;
}

bool LogTargetDefault::setFile(const wchar_t* newFileName, const wchar_t* folder) {
    const bool keepName = newFileName == nullptr || *newFileName == L'\0';
    const std::wstring bareName = keepName ? fileName : std::wstring(newFileName);
    if (folder != nullptr && *folder != L'\0') {
        filePath = folder;
    } else {
        std::wstring temp;
        if (os::getTempPath(temp))
            filePath = temp;
        if (!os::isDirectory(filePath))
            logfile::createFolderTree(filePath);
    }
    if (!keepName && !isBareName(bareName)) {
        enabled = false;
        return false;
    }
    if (!joinPath(filePath, bareName, filePath)) {
        enabled = false;
        return false;
    }
    fileHandle.reset();
    const std::wstring previousName = fileName;
    fileName = filePath.substr(lastElementStart(filePath));
    if (opened) {
        // The lock follows the file's name.
        if (fileName != previousName) {
            fileLock = logfile::CrossProcessLock::create(logfile::CrossProcessLock::Kind::kMutex,
                                                         fileName);
        }
        enabled = openFile(fileHandle);
    } else {
        FileHandle probe;
        enabled = openFile(probe);  // creates the file, with its mark, already now
    }
    return enabled;
}

bool LogTargetDefault::openFile(FileHandle& handle) {
    // Probing, moving aside and creating run under the file's lock, so that processes
    // starting together never take a half-created file for a foreign one.
    std::unique_ptr<logfile::CrossProcessLock> ownLock;
    logfile::CrossProcessLock* lock = fileLock.get();
    if (lock == nullptr) {
        ownLock = logfile::CrossProcessLock::create(logfile::CrossProcessLock::Kind::kMutex,
                                                    filePath.substr(lastElementStart(filePath)));
        lock = ownLock.get();
    }
    LockScope scope(lock);
    return openFileLocked(handle);
}

bool LogTargetDefault::openFileLocked(FileHandle& handle) {
    if (filePath.empty())
        return false;
    // Another encoding, or (in a shared temporary folder) a file that another user owns or can
    // write, or something that is no file at all: never written into, moved out of the way.
    if (!logfile::looksUtf16(filePath) || logfile::isForeign(filePath)) {
        handle.reset();
        moveAsideForeignFile();
    }
    FileHandle file = logfile::openForAppend(filePath);
    if (!file.valid()) {
        file = logfile::createNew(filePath);
        if (!file.valid())
            return false;
        logfile::appendAtEnd(file, kByteOrderMark, sizeof(kByteOrderMark));
    }
    handle = std::move(file);
    return true;
}

bool LogTargetDefault::moveAsideForeignFile() {
    if (filePath.empty())
        return false;
    const std::wstring stamped = logfile::stampedName(filePath, logfile::localNow());
    for (int n = 1; n <= kMaxStampedVariants; ++n) {
        const std::wstring aside = stampedVariant(stamped, n);
        if (aside.empty() || os::pathExists(aside))
            continue;
        if (!logfile::renameNoReplace(filePath, aside))
            continue;  // taken meanwhile, or by a dangling link
        movedAsidePath = aside;
        return true;
    }
    return false;
}

bool LogTargetDefault::open() {
    if (!enabled)
        return false;
    if (filePath.empty()) {
        std::wstring folder;
        if (!os::getTempPath(folder))
            return false;
        if (!os::isDirectory(folder) && !logfile::createFolderTree(folder))
            return false;
        if (!joinPath(folder, fileName, filePath))
            return false;
    }
    if (!fileHandle.valid() && !openFile(fileHandle))
        return false;
    if (!fileLock) {
        fileLock =
            logfile::CrossProcessLock::create(logfile::CrossProcessLock::Kind::kMutex, fileName);
    }
    lastSizeCheck = logfile::nowMs() / 1000;
    lastMessageTime = lastSizeCheck;
    {
        LockScope scope(fileLock.get());
        if (scope.held())
            checkSizeAndRotate();
    }
    opened = true;
    return true;
}

bool LogTargetDefault::close() {
    fileHandle.reset();
    fileLock.reset();
    opened = false;
    return true;
}

bool LogTargetDefault::checkSizeAndRotate() {
    int64_t size = 0;
    if (!logfile::fileSize(filePath, size))
        return false;
    if (size < kRotateSize)
        return true;
    fileHandle.reset();
    // The log is emptied only once a complete copy exists under a name nobody used before;
    // the emptied log starts again with its byte-order mark, so it stays a UTF-16 file.
    // A stamped name already taken (two rotations in one second, or a file planted there)
    // gets a counter, so the log never grows on past the limit.
    const std::wstring stamped = logfile::stampedName(filePath, logfile::localNow());
    for (int n = 1; n <= kMaxStampedVariants; ++n) {
        const std::wstring copy = stampedVariant(stamped, n);
        if (copy.empty() || os::pathExists(copy))
            continue;
        if (logfile::copyToNewFile(filePath, copy))
            logfile::resetFile(filePath, kByteOrderMark, sizeof(kByteOrderMark));
        break;
    }
    return openFileLocked(fileHandle);
}

bool LogTargetDefault::write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                             const wchar_t* context3, const wchar_t* context4, const wchar_t* tag1,
                             const wchar_t* tag2, const wchar_t* format, va_list* args,
                             int64_t timeMs) {
    if (level < threshold || format == nullptr)
        return true;
    LockScope scope(fileLock.get());
    if (!scope.held())
        return true;  // no lock, or a failed wait: the line is lost
    const std::wstring message =
        args != nullptr ? formatWide(format, *args, kMessageCapacity) : std::wstring(format);
    writeLine(level, context1, context2, context3, context4, tag1, tag2, message, timeMs);
    return true;
}

bool LogTargetDefault::write(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                             const wchar_t* context3, const wchar_t* context4, const char* tag1,
                             const char* tag2, const char* format, va_list* args, int64_t timeMs) {
    if (level < threshold || format == nullptr)
        return true;
    LockScope scope(fileLock.get());
    if (!scope.held())
        return true;
    const std::wstring message = fromUtf8(
        args != nullptr ? formatNarrow(format, *args, kMessageCapacity) : std::string(format));
    const std::wstring wideTag1 = tag1 != nullptr ? fromUtf8(tag1) : std::wstring();
    const std::wstring wideTag2 = tag2 != nullptr ? fromUtf8(tag2) : std::wstring();
    writeLine(level, context1, context2, context3, context4, wideTag1.c_str(), wideTag2.c_str(),
              message, timeMs);
    return true;
}

void LogTargetDefault::writeLine(LogLevel level, const wchar_t* context1, const wchar_t* context2,
                                 const wchar_t* context3, const wchar_t* context4,
                                 const wchar_t* tag1, const wchar_t* tag2,
                                 const std::wstring& message, int64_t timeMs) {
    if (lastMessageTime - lastSizeCheck >= kSizeCheckInterval && checkSizeAndRotate()) {
        lastSizeCheck = lastMessageTime;
    }
    FormattedLine line = formatLine(separator, timeMs, level, context1, context2, context3,
                                    context4, tag1, tag2, message.c_str());
    lastMessageTime = line.seconds;
    // A file deleted or replaced while open (temporary-folder cleaners) is opened afresh
    // rather than written into the void.
    if (!fileHandle.valid() || !logfile::isStillNamed(fileHandle, filePath)) {
        fileHandle.reset();
        openFileLocked(fileHandle);
    }
    if (!fileHandle.valid())
        return;

    // Line and line end in one write, UTF-16LE whatever the machine's byte order.
    line.text += L"\r\n";
    std::string bytes;
    appendUtf16le(bytes, line.text);
    logfile::appendAtEnd(fileHandle, bytes.data(), bytes.size());
}

}  // namespace zoka
