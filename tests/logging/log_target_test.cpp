#include "logging/log_target.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/log_line.h"
#include "logging/registry.h"
#include "test_util.h"

namespace {

using zoka::LogTargetDefault;
using zoka::logfile::CrossProcessLock;

const std::string kMark = "\xFF\xFE";

using testutil::utf16le;

// The lines of a log file after its byte-order mark, without their CR LF.
std::vector<std::wstring> readLines(const std::wstring& path) {
    const std::string bytes = testutil::readBytes(path);
    return testutil::utf16leLines(bytes.substr(std::min(bytes.size(), kMark.size())));
}

// The part of a line after its time stamp.
std::wstring afterStamp(const std::wstring& line) {
    return line.size() > 21 ? line.substr(21) : line;
}

std::wstring tid() {
    return std::to_wstring(zoka::os::currentThreadId());
}

// Each file's lock is machine-wide and its POSIX lock file stays: the names are fixed, so a
// run reuses the lock files of the previous one. A name in use by a parallel run only waits.
std::wstring testLogName(const std::wstring& base) {
    static int counter = 0;
    return L"logtest-" + base + L"-" + std::to_wstring(counter++) + L".log";
}

// Points the target at the file `name` in `folder` and registers it.
bool attach(LogTargetDefault& target, const std::wstring& name, const std::wstring& folder) {
    return target.setFile(name, folder) && zoka::LogTargetRegistry::instance().addTarget(&target);
}

bool writeWide(LogTargetDefault& target, zoka::LogLevel level, int64_t timeMs,
               const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const bool ok = target.write(level, L"", L"Zeph", L"Utilities", L"Velkaro", L"", L"", format,
                                 &args, timeMs);
    va_end(args);
    return ok;
}

bool isStampedName(const std::wstring& name, const std::wstring& stem) {
    static const std::wregex pattern(LR"(.* (\d{1,2})-(\d{1,2})-(\d{4}) \d\d-\d\d-\d\d\.log)");
    return name.rfind(stem + L" ", 0) == 0 && std::regex_match(name, pattern);
}

TEST(LogTargetTest, FileBytesAreUtf16WithMarkAndCrLf) {
    testutil::UtcTimeZone utc;
    testutil::ScratchDir dir(L"bytes");
    const std::wstring name = testLogName(L"bytes");
    const std::wstring path = dir.file(name);
    {
        LogTargetDefault target(L"lt-bytes");
        ASSERT_TRUE(target.setFile(name.c_str(), dir.path().c_str()));
        EXPECT_EQ(kMark, testutil::readBytes(path));  // created now, before open
        EXPECT_EQ(path, target.filePath);
        EXPECT_EQ(name, target.fileName);
        ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&target));
        EXPECT_TRUE(target.opened);
        writeWide(target, zoka::LEVEL_INFO, 1796652309042, L"caf\u00e9 %s %d", L"\U0001F600", 7);
    }
    const std::wstring line1 =
        L"12/07/26 14:05:09:042 | [INFO] |  | Zeph | Utilities | Velkaro |  |  | " + tid() +
        L" | caf\u00e9 \U0001F600 7";
    std::string expected = kMark + utf16le(line1) + std::string("\r\0\n\0", 4);
    EXPECT_EQ(expected, testutil::readBytes(path));
    // The surrogate pair is in the file as such.
    EXPECT_NE(std::string::npos, expected.find("\x3D\xD8\x00\xDE"));

    // A second target on the existing file appends with no second mark.
    LogTargetDefault again(L"lt-bytes-2");
    ASSERT_TRUE(attach(again, name, dir.path()));
    again.write(zoka::LEVEL_ERROR, nullptr, nullptr, nullptr, nullptr, "t1", nullptr, "narrow %s",
                nullptr, 1000042);
    expected += utf16le(L"01/01/70 00:16:40:042 | [ERROR] |  |  |  |  | t1 |  | " + tid() +
                        L" | narrow %s") +
                std::string("\r\0\n\0", 4);
    EXPECT_EQ(expected, testutil::readBytes(path));
    EXPECT_TRUE(again.close());
    EXPECT_FALSE(again.opened);
    EXPECT_FALSE(again.fileHandle.valid());
}

TEST(LogTargetTest, ThresholdTokenRuleAndTruncation) {
    testutil::ScratchDir dir(L"levels");
    const std::wstring name = testLogName(L"levels");
    LogTargetDefault target(L"lt-levels");
    ASSERT_TRUE(attach(target, name, dir.path()));
    target.threshold = zoka::LEVEL_INFO;
    zoka::Logger logger;
    logger.targetKey = L"lt-levels";
    logger.trace(L"trace");
    logger.debug(L"debug eyJa.eyJb");  // below the threshold: not written at all
    logger.info(L"info %d", 1);
    logger.warn(L"w", L"warn");
    logger.error(L"", L"error");
    logger.fatal(L"f", L"fatal");
    logger.info(L"token eyJhbGciOi.eyJzdWIi.sig");
    logger.info("narrow %s %d", "caf\xc3\xa9", 2);
    logger.info(L"%s", std::wstring(5000, L'x').c_str());

    auto line = [](const wchar_t* level, const wchar_t* tag, const std::wstring& message) {
        return std::wstring(L" | [") + level + L"] |  | Zeph | Utilities | Velkaro | " + tag +
               L" |  | " + tid() + L" | " + message;
    };
    const std::vector<std::wstring> expected = {
        line(L"INFO", L"", L"info 1"),
        line(L"WARN", L"w", L"warn"),
        line(L"ERROR", L"", L"error"),
        line(L"FATAL", L"f", L"fatal"),
        line(L"WARN", L"", L"Found access/device token. Log skipped."),
        line(L"INFO", L"", L"narrow caf\u00e9 2"),
        line(L"INFO", L"", std::wstring(4094, L'x')),
    };
    const std::vector<std::wstring> lines = readLines(dir.file(name));
    ASSERT_EQ(expected.size(), lines.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(expected[i], afterStamp(lines[i])) << i;

    // With threshold DEBUG the same debug line is written, its token replaced.
    target.threshold = zoka::LEVEL_DEBUG;
    logger.debug(L"debug eyJa.eyJb");
    EXPECT_NE(std::wstring::npos, readLines(dir.file(name)).back().find(L"[WARN]"));
}

TEST(LogTargetTest, MarkersSelectTheThreshold) {
    const struct {
        std::vector<const wchar_t*> files;
        std::vector<const wchar_t*> folders;
        int threshold;         // chosen at construction, for the name ZOKA.log
        int afterVelkaroName;  // chosen again once the file is Velkaro.log
    } cases[] = {
        {{}, {}, 30, 30},
        {{L"ZOKA.trace"}, {}, 10, 30},
        {{L"ZOKA.debug"}, {}, 20, 30},
        {{L"kiv.trace"}, {}, 10, 10},
        {{L"kiv.debug"}, {}, 20, 20},
        {{L"ZOKA.debug", L"kiv.trace"}, {}, 20, 10},  // ZOKA.debug is looked at first
        {{L"kiv.debug", L"kiv.trace"}, {}, 10, 10},
        {{L"ZOKA.trace", L"ZOKA.debug"}, {}, 10, 30},
        {{}, {L"ZOKA.trace"}, 10, 30},  // only existence counts: a folder too
        {{L"Velkaro.trace", L"ZOKA.log", L"kiv.info"}, {}, 30, 10},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        testutil::ScratchDir temp(L"markers");
        for (const wchar_t* f : cases[i].files)
            testutil::writeBytes(temp.file(f), "");
        for (const wchar_t* f : cases[i].folders) {
            ASSERT_TRUE(zoka::logfile::createFolder(temp.file(f)));
        }
        testutil::TempFolderOverride override(temp.path());
        LogTargetDefault target(L"lt-markers");
        EXPECT_EQ(cases[i].threshold, target.threshold) << "case " << i;
        // Run again once the file is chosen, the markers follow the file's own name.
        target.setFile(L"Velkaro.log", temp.path().c_str());
        target.selectLevelFromMarkers();
        EXPECT_EQ(cases[i].afterVelkaroName, target.threshold) << "case " << i;
    }
}

TEST(LogTargetTest, ForeignFileIsMovedAside) {
    testutil::ScratchDir dir(L"foreign");
    const struct {
        const char* content;
    } cases[] = {{"plain text log\r\n"}, {""}, {"\xEF\xBB\xBFutf-8 with mark"}, {"X"}};
    for (const auto& c : cases) {
        const std::wstring name = testLogName(L"foreign");
        ASSERT_TRUE(testutil::writeBytes(dir.file(name), c.content));
        LogTargetDefault target(L"lt-foreign");
        ASSERT_TRUE(target.setFile(name, dir.path()));
        EXPECT_EQ(kMark, testutil::readBytes(dir.file(name))) << c.content;
        ASSERT_FALSE(target.movedAsidePath.empty());
        const std::wstring moved = target.movedAsidePath.substr(dir.path().size() + 1);
        EXPECT_TRUE(isStampedName(moved, name.substr(0, name.size() - 4))) << moved;
        EXPECT_EQ(c.content, testutil::readBytes(target.movedAsidePath));
    }
    // A UTF-16 file of either byte order stays.
    for (const char* mark : {"\xFF\xFE", "\xFE\xFF"}) {
        const std::wstring name = testLogName(L"utf16");
        const std::string content = std::string(mark) + std::string("a\0", 2);
        ASSERT_TRUE(testutil::writeBytes(dir.file(name), content));
        LogTargetDefault target(L"lt-utf16");
        ASSERT_TRUE(target.setFile(name, dir.path()));
        EXPECT_TRUE(target.movedAsidePath.empty());
        EXPECT_EQ(content, testutil::readBytes(dir.file(name)));
    }
}

// Two moves in one second, or a name planted ahead: the next counted name is used.
TEST(LogTargetTest, ForeignFileTakesACountedNameWhenItsStampedNameIsTaken) {
    testutil::ScratchDir dir(L"taken");
    const std::wstring name = testLogName(L"taken");
    const std::wstring path = dir.file(name);
    ASSERT_TRUE(testutil::writeBytes(path, "foreign"));
    // Occupy the stamped names of the next few seconds.
    const int64_t now = zoka::logfile::nowMs() / 1000;
    for (int64_t s = now - 1; s <= now + 5; ++s) {
        zoka::logfile::LocalTime t;
        ASSERT_TRUE(zoka::logfile::toLocalTime(s, t));
        ASSERT_TRUE(testutil::writeBytes(zoka::logfile::stampedName(path, t), "occupied"));
    }
    LogTargetDefault target(L"lt-taken");
    ASSERT_TRUE(target.setFile(name, dir.path()));
    EXPECT_NE(std::wstring::npos, target.movedAsidePath.find(L" (2).log"));
    EXPECT_EQ("foreign", testutil::readBytes(target.movedAsidePath));
    ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&target));
    writeWide(target, zoka::LEVEL_INFO, 1000042, L"appended");
    const std::string bytes = testutil::readBytes(path);
    EXPECT_EQ(0u, bytes.rfind("\xFF\xFE", 0));
    EXPECT_NE(std::string::npos, bytes.find(utf16le(L"appended\r\n")));
    for (const std::wstring& entry : testutil::listFolder(dir.path())) {
        if (entry != name && dir.file(entry) != target.movedAsidePath) {
            EXPECT_EQ("occupied", testutil::readBytes(dir.file(entry)));
        }
    }
}

// An open target pointed at another file writes there from the next line on, under that
// file's lock; the first file keeps what it had.
TEST(LogTargetTest, OpenTargetMovesToAnotherFile) {
    testutil::ScratchDir dir(L"moved");
    const std::wstring first = testLogName(L"first");
    const std::wstring second = testLogName(L"second");
    LogTargetDefault target(L"lt-moved");
    ASSERT_TRUE(attach(target, first, dir.path()));
    writeWide(target, zoka::LEVEL_INFO, 1000042, L"one");
    ASSERT_TRUE(target.setFile(second, dir.path()));
    writeWide(target, zoka::LEVEL_INFO, 1000042, L"two");
    zoka::LogTargetRegistry::instance().removeTarget(&target);
    const std::string one = testutil::readBytes(dir.file(first));
    const std::string two = testutil::readBytes(dir.file(second));
    EXPECT_NE(std::string::npos, one.find(utf16le(L"one")));
    EXPECT_EQ(std::string::npos, one.find(utf16le(L"two")));
    EXPECT_NE(std::string::npos, two.find(utf16le(L"two")));
    EXPECT_EQ(0u, two.rfind("\xFF\xFE", 0));
}

// Files at and just below the limit, at open and during a long run.
TEST(LogTargetTest, RotatesAtTenMebibytes) {
    for (const int64_t size : {LogTargetDefault::kRotateSize, LogTargetDefault::kRotateSize - 1}) {
        testutil::ScratchDir dir(L"rotate");
        const std::wstring name = testLogName(L"rotate");
        const std::string content =
            kMark + std::string(static_cast<size_t>(size) - kMark.size(), 'r');
        ASSERT_TRUE(testutil::writeBytes(dir.file(name), content));
        LogTargetDefault target(L"lt-rotate");
        ASSERT_TRUE(attach(target, name, dir.path()));
        writeWide(target, zoka::LEVEL_INFO, 0, L"after");
        const std::vector<std::wstring> entries = testutil::listFolder(dir.path());
        const std::string log = testutil::readBytes(dir.file(name));
        if (size == LogTargetDefault::kRotateSize) {
            ASSERT_EQ(2u, entries.size());
            const std::wstring copy = entries[0] == name ? entries[1] : entries[0];
            EXPECT_TRUE(isStampedName(copy, name.substr(0, name.size() - 4))) << copy;
            EXPECT_TRUE(testutil::readBytes(dir.file(copy)) == content);
            // The emptied log starts again with its mark, then the new line.
            EXPECT_EQ(0u, log.rfind(kMark, 0));
            ASSERT_EQ(1u, readLines(dir.file(name)).size());
            EXPECT_NE(std::wstring::npos, readLines(dir.file(name))[0].find(L" | after"));
        } else {
            EXPECT_EQ(1u, entries.size());
            EXPECT_GT(log.size(), content.size());
            EXPECT_EQ(0, log.compare(0, content.size(), content));
        }
    }
}

TEST(LogTargetTest, SizeIsCheckedAgainAfterAnHourOfMessageTime) {
    testutil::ScratchDir dir(L"hourly");
    const std::wstring name = testLogName(L"hourly");
    const std::wstring path = dir.file(name);
    LogTargetDefault target(L"lt-hourly");
    ASSERT_TRUE(attach(target, name, dir.path()));
    const int64_t opened = target.lastSizeCheck;
    // The file grows past the limit behind the target's back.
    std::string big = testutil::readBytes(path);
    big.resize(static_cast<size_t>(LogTargetDefault::kRotateSize), 'g');
    ASSERT_TRUE(testutil::writeBytes(path, big));

    writeWide(target, zoka::LEVEL_INFO, (opened + 3599) * 1000, L"first");   // no check yet
    writeWide(target, zoka::LEVEL_INFO, (opened + 3600) * 1000, L"second");  // 3599 s: no check
    EXPECT_EQ(1u, testutil::listFolder(dir.path()).size());
    writeWide(target, zoka::LEVEL_INFO, (opened + 3601) * 1000, L"third");  // 3600 s: rotates first
    EXPECT_EQ(2u, testutil::listFolder(dir.path()).size());
    EXPECT_EQ(opened + 3600, target.lastSizeCheck);
    const std::vector<std::wstring> lines = readLines(path);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::wstring::npos, lines[0].find(L" | third"));
}

TEST(LogTargetTest, SetFileRefusesFolderPartsAndOverlongPaths) {
    testutil::ScratchDir dir(L"setfile");
    for (const wchar_t* bad : {L"logs\\x.log", L"logs/x.log", L"C:x.log"}) {
        LogTargetDefault target(L"lt-bad");
        EXPECT_FALSE(target.setFile(bad, dir.path().c_str())) << bad;
        EXPECT_FALSE(target.enabled);
        EXPECT_FALSE(zoka::LogTargetRegistry::instance().addTarget(&target));
    }
    // Folder and name joined may take 259 characters, not 260.
    const size_t room = 259 - dir.path().size() - 1;
    if (room < 10 || room > 250)
        GTEST_SKIP() << "scratch folder path length unsuitable";
    {
        LogTargetDefault target(L"lt-long");
        const std::wstring name(room - 4, L'n');
        EXPECT_TRUE(target.setFile((name + L".log").c_str(), dir.path().c_str()));
        EXPECT_EQ(259u, target.filePath.size());
    }
    {
        LogTargetDefault target(L"lt-long");
        const std::wstring name(room - 3, L'n');
        EXPECT_FALSE(target.setFile((name + L".log").c_str(), dir.path().c_str()));
        EXPECT_FALSE(target.enabled);
    }
}

TEST(LogTargetTest, SetFileDefaultsToCurrentNameAndTemporaryFolder) {
    testutil::ScratchDir dir(L"defaults");
    {
        LogTargetDefault target(L"lt-default-name");
        EXPECT_TRUE(target.setFile(L"", dir.path().c_str()));
        EXPECT_EQ(L"ZOKA.log", target.fileName);
        EXPECT_EQ(kMark, testutil::readBytes(dir.file(L"ZOKA.log")));
    }
    // No folder: the temporary folder, created with its parents when missing.
    const std::wstring temp = dir.file(L"a") + zoka::os::pathSeparator() + L"b";
    testutil::TempFolderOverride override(temp);
    LogTargetDefault target(L"lt-default-folder");
    EXPECT_TRUE(target.setFile(L"in-temp.log", nullptr));
    EXPECT_EQ(kMark, testutil::readBytes(temp + zoka::os::pathSeparator() + L"in-temp.log"));
    // open() with no file chosen at all takes fileName in the temporary folder.
    LogTargetDefault unset(L"lt-unset");
    unset.fileName = testLogName(L"unset");
    EXPECT_TRUE(unset.open());
    EXPECT_EQ(kMark, testutil::readBytes(temp + zoka::os::pathSeparator() + unset.fileName));
}

TEST(LogTargetTest, TwoTargetsOfOneKeyEachFormatTheMessage) {
    testutil::ScratchDir dir(L"fanout");
    LogTargetDefault first(L"lt-fanout");
    LogTargetDefault second(L"lt-fanout");
    ASSERT_TRUE(first.setFile(L"one.log", dir.path().c_str()));
    ASSERT_TRUE(second.setFile(L"two.log", dir.path().c_str()));
    ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&first));
    ASSERT_TRUE(zoka::LogTargetRegistry::instance().addTarget(&second));
    zoka::Logger logger;
    logger.targetKey = L"lt-fanout";
    logger.info(L"%s %d %.1f", L"same", 3, 0.5);
    for (const wchar_t* file : {L"one.log", L"two.log"}) {
        const std::vector<std::wstring> lines = readLines(dir.file(file));
        ASSERT_EQ(1u, lines.size()) << file;
        EXPECT_NE(std::wstring::npos, lines[0].find(L" | same 3 0.5")) << file;
    }
}

int holdLockAndDie(const std::vector<std::wstring>& args) {
    // Take the lock and end without giving it back, as a killed writer would.
    auto lock = CrossProcessLock::create(CrossProcessLock::Kind::kMutex, args.at(0));
    if (!lock || !lock->acquire())
        return 3;
    static CrossProcessLock* const kept = lock.release();  // still held when the process ends
    return kept != nullptr ? 0 : 4;
}
[[maybe_unused]] const bool holdLockRegistered =
    testutil::registerChild("hold-lock-and-die", holdLockAndDie);

TEST(LogTargetTest, LockLeftByADeadWriterBlocksNobody) {
    testutil::ScratchDir dir(L"abandoned");
    const std::wstring name = testLogName(L"abandoned");
    LogTargetDefault target(L"lt-abandoned");
    ASSERT_TRUE(attach(target, name, dir.path()));
    ASSERT_EQ(0, testutil::runSelf({L"hold-lock-and-die", name}));
    // Windows reports the dead owner's mutex as abandoned: that line is dropped and the lock
    // given back; on POSIX the kernel has already released it.
    writeWide(target, zoka::LEVEL_INFO, 0, L"line one");
    writeWide(target, zoka::LEVEL_INFO, 0, L"line two");
    writeWide(target, zoka::LEVEL_INFO, 0, L"line three");
    const std::vector<std::wstring> lines = readLines(dir.file(name));
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(std::wstring::npos, lines[lines.size() - 2].find(L"line two"));
    EXPECT_NE(std::wstring::npos, lines.back().find(L"line three"));
}

}  // namespace
