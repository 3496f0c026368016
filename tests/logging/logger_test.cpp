#include "logging/logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/unicode.h"
#include "logging/format.h"
#include "logging/registry.h"

namespace {

using zoka::LogLevel;

struct Call {
    LogLevel level;
    std::wstring tag1;
    std::wstring tag2;
    std::wstring message;
};

// Records what reaches logV, formatting the list the way a target would.
class RecordingLogger : public zoka::AbstractLogger {
public:
    void logV(LogLevel level, const char* tag1, const char* tag2, const char* format,
              va_list args) override {
        calls.push_back({level, zoka::fromUtf8(tag1), zoka::fromUtf8(tag2),
                         zoka::fromUtf8(zoka::formatNarrow(format, args, 4095))});
    }
    void logV(LogLevel level, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
              va_list args) override {
        calls.push_back({level, tag1, tag2, zoka::formatWide(format, args, 4095)});
    }
    std::vector<Call> calls;
};

TEST(LoggerTest, LevelNames) {
    const struct {
        LogLevel level;
        const wchar_t* name;
    } cases[] = {{10, L"TRACE"}, {20, L"DEBUG"}, {30, L"INFO"}, {40, L"WARN"},
                 {50, L"ERROR"}, {60, L"FATAL"}, {70, L"NONE"}, {0, L"ALL"},
                 {25, L"ALL"},   {80, L"ALL"},   {-10, L"ALL"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.name, zoka::levelName(c.level)) << c.level;
}

TEST(LoggerTest, EveryOperationForwardsItsLevelTagsAndArguments) {
    RecordingLogger logger;
    logger.trace("t%d", 1);
    logger.trace(L"t%s", L"w");
    logger.debug("d%d", 2);
    logger.debug(L"d%d", 3);
    logger.info("i%s", "n");
    logger.info(L"i%s", L"w");
    logger.warn("tagN", "w%d", 4);
    logger.warn(L"tagW", L"w%d", 5);
    logger.error("", "e%d", 6);
    logger.error(L"", L"e%d", 7);
    logger.fatal("f", "f%d", 8);
    logger.fatal(L"f", L"f%d", 9);
    logger.log(15, "a", "b", "l%d", 10);
    logger.log(80, L"c", L"d", L"l%d", 11);
    const Call expected[] = {
        {10, L"", L"", L"t1"},     {10, L"", L"", L"tw"},     {20, L"", L"", L"d2"},
        {20, L"", L"", L"d3"},     {30, L"", L"", L"in"},     {30, L"", L"", L"iw"},
        {40, L"tagN", L"", L"w4"}, {40, L"tagW", L"", L"w5"}, {50, L"", L"", L"e6"},
        {50, L"", L"", L"e7"},     {60, L"f", L"", L"f8"},    {60, L"f", L"", L"f9"},
        {15, L"a", L"b", L"l10"},  {80, L"c", L"d", L"l11"},
    };
    ASSERT_EQ(sizeof(expected) / sizeof(expected[0]), logger.calls.size());
    for (size_t i = 0; i < logger.calls.size(); ++i) {
        EXPECT_EQ(expected[i].level, logger.calls[i].level) << i;
        EXPECT_EQ(expected[i].tag1, logger.calls[i].tag1) << i;
        EXPECT_EQ(expected[i].tag2, logger.calls[i].tag2) << i;
        EXPECT_EQ(expected[i].message, logger.calls[i].message) << i;
    }
}

TEST(LoggerTest, NullFormatDoesNothingAndNullTagIsEmpty) {
    RecordingLogger logger;
    logger.info(static_cast<const wchar_t*>(nullptr));
    logger.warn(L"tag", static_cast<const wchar_t*>(nullptr));
    logger.log(30, "a", "b", static_cast<const char*>(nullptr));
    EXPECT_TRUE(logger.calls.empty());
    logger.warn(static_cast<const wchar_t*>(nullptr), L"x");
    logger.log(30, static_cast<const char*>(nullptr), nullptr, "y");
    ASSERT_EQ(2u, logger.calls.size());
    EXPECT_EQ(L"", logger.calls[0].tag1);
    EXPECT_EQ(L"", logger.calls[1].tag1);
    EXPECT_EQ(L"", logger.calls[1].tag2);
    // Without arguments the format is still formatted: %% is one percent sign.
    logger.info(L"100%%");
    EXPECT_EQ(L"100%", logger.calls.back().message);
}

TEST(LoggerTest, DefaultLoggerColumns) {
    zoka::Logger logger;
    EXPECT_EQ(L"Velkaro", logger.targetKey);
    EXPECT_EQ(L"", logger.context1);
    EXPECT_EQ(L"Zeph", logger.context2);
    EXPECT_EQ(L"Utilities", logger.context3);
    EXPECT_EQ(L"Velkaro", logger.context4);
    EXPECT_EQ(&zoka::LogTargetRegistry::instance(), &logger.registry);
}

// A target that records what it receives, formatting from the shared list on every write.
class RecordingTarget : public zoka::LogTargetBase {
public:
    RecordingTarget(const std::wstring& key, std::vector<std::wstring>* sink,
                    const std::wstring& label, bool openResult = true)
        : LogTargetBase(key), sink_(sink), label_(label), openResult_(openResult) {}

    bool openFile(zoka::FileHandle&) override { return true; }
    bool open() override {
        ++openCount;
        return openResult_;
    }
    bool close() override { return true; }
    bool write(LogLevel level, const wchar_t* c1, const wchar_t* c2, const wchar_t* c3,
               const wchar_t* c4, const char* tag1, const char* tag2, const char* format,
               va_list* args, int64_t timeMs) override {
        const std::string text = args ? zoka::formatNarrow(format, *args, 4095) : format;
        return record(level, c1, c2, c3, c4, zoka::fromUtf8(tag1), zoka::fromUtf8(tag2),
                      zoka::fromUtf8(text) + L" (narrow)", timeMs);
    }
    bool write(LogLevel level, const wchar_t* c1, const wchar_t* c2, const wchar_t* c3,
               const wchar_t* c4, const wchar_t* tag1, const wchar_t* tag2, const wchar_t* format,
               va_list* args, int64_t timeMs) override {
        const std::wstring text = args ? zoka::formatWide(format, *args, 4095) : format;
        return record(level, c1, c2, c3, c4, tag1, tag2, text, timeMs);
    }

    int openCount = 0;

private:
    bool record(LogLevel level, const wchar_t* c1, const wchar_t* c2, const wchar_t* c3,
                const wchar_t* c4, const std::wstring& tag1, const std::wstring& tag2,
                const std::wstring& text, int64_t timeMs) {
        sink_->push_back(label_ + L":" + std::to_wstring(level) + L"|" + c1 + L"|" + c2 + L"|" +
                         c3 + L"|" + c4 + L"|" + tag1 + L"|" + tag2 + L"|" + text + L"|" +
                         std::to_wstring(timeMs));
        return true;
    }
    std::vector<std::wstring>* sink_;
    std::wstring label_;
    bool openResult_;
};

zoka::Logger loggerFor(const std::wstring& key) {
    zoka::Logger logger;
    logger.targetKey = key;
    return logger;
}

TEST(RegistryTest, FansOutToEveryTargetOfTheKeyInOrder) {
    auto& registry = zoka::LogTargetRegistry::instance();
    std::vector<std::wstring> seen;
    RecordingTarget first(L"reg-fanout", &seen, L"first");
    RecordingTarget second(L"reg-fanout", &seen, L"second");
    ASSERT_TRUE(registry.addTarget(&first));
    ASSERT_TRUE(registry.addTarget(&second));
    zoka::Logger logger = loggerFor(L"reg-fanout");
    logger.info(L"%s=%d", L"answer", 42);
    logger.error("", "narrow %s", "text");
    const std::vector<std::wstring> expected = {
        L"first:30||Zeph|Utilities|Velkaro|||answer=42|0",
        L"second:30||Zeph|Utilities|Velkaro|||answer=42|0",
        L"first:50||Zeph|Utilities|Velkaro|||narrow text (narrow)|0",
        L"second:50||Zeph|Utilities|Velkaro|||narrow text (narrow)|0",
    };
    EXPECT_EQ(expected, seen);
}

TEST(RegistryTest, AddingTwiceKeepsOneEntryAndFailedOpenRegistersNothing) {
    auto& registry = zoka::LogTargetRegistry::instance();
    std::vector<std::wstring> seen;
    RecordingTarget target(L"reg-twice", &seen, L"t");
    EXPECT_TRUE(registry.addTarget(&target));
    EXPECT_TRUE(registry.addTarget(&target));
    EXPECT_EQ(2, target.openCount);
    RecordingTarget refused(L"reg-refused", &seen, L"refused", false);
    EXPECT_FALSE(registry.addTarget(&refused));
    EXPECT_FALSE(registry.addTarget(nullptr));

    loggerFor(L"reg-twice").info(L"once");
    loggerFor(L"reg-refused").info(L"dropped");
    loggerFor(L"REG-TWICE").info(L"other key");  // keys differ in case: another key
    loggerFor(L"reg-nobody").info(L"dropped");
    zoka::LogTargetRegistry::instance().dispatch(nullptr, 30, L"", L"", L"", L"", L"", L"",
                                                 L"null key", nullptr);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(L"t:30||Zeph|Utilities|Velkaro|||once|0", seen[0]);
}

TEST(RegistryTest, ADestroyedTargetReceivesNothing) {
    auto& registry = zoka::LogTargetRegistry::instance();
    std::vector<std::wstring> seen;
    RecordingTarget staying(L"reg-destroyed", &seen, L"staying");
    {
        RecordingTarget leaving(L"reg-destroyed", &seen, L"leaving");
        ASSERT_TRUE(registry.addTarget(&leaving));
        ASSERT_TRUE(registry.addTarget(&staying));
    }
    loggerFor(L"reg-destroyed").info(L"after");
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(0u, seen[0].rfind(L"staying:", 0));
}

TEST(RegistryTest, KeysOrderByUtf16CodeUnits) {
    zoka::Utf16Less less;
    // By UTF-16 code units U+10000 (D800 DC00) sorts before U+FF5E, unlike by code points.
    EXPECT_TRUE(less(L"\U00010000", L"\uFF5E"));
    EXPECT_FALSE(less(L"\uFF5E", L"\U00010000"));
    EXPECT_TRUE(less(L"A", L"a"));
    EXPECT_FALSE(less(L"a", L"a"));
}

// The library hook: the object's own logger, else the callback, else the library logger.
std::vector<std::wstring>* callbackSink = nullptr;
void recordCallback(LogLevel level, const wchar_t* library, const wchar_t* module,
                    const wchar_t* tag3, const wchar_t* tag4, const wchar_t* format, va_list args) {
    callbackSink->push_back(std::to_wstring(level) + L"|" + library + L"|" + module + L"|" + tag3 +
                            L"|" + tag4 + L"|" + zoka::formatWide(format, args, 100));
}

TEST(LibraryLogTest, RoutesToOwnLoggerThenCallbackThenLibraryLogger) {
    RecordingLogger own;
    RecordingLogger global;
    std::vector<std::wstring> callbacks;
    callbackSink = &callbacks;

    zoka::libraryLog(nullptr, 40, L"FileUtils", L"nowhere %d", 1);  // hook unset: nothing

    zoka::libraryLogger = &global;
    zoka::libraryLog(nullptr, 40, L"FileUtils", L"global %d", 2);
    zoka::libraryLogCallback = recordCallback;
    zoka::libraryLog(nullptr, 50, L"XMLParser", L"callback %d", 3);
    zoka::libraryLog(&own, 30, L"StringUtils", L"own %d", 4);
    zoka::libraryLogCallback = nullptr;
    zoka::libraryLogger = nullptr;

    ASSERT_EQ(1u, global.calls.size());
    EXPECT_EQ(L"global 2", global.calls[0].message);
    EXPECT_EQ(L"", global.calls[0].tag1);
    EXPECT_EQ(L"FileUtils", global.calls[0].tag2);
    ASSERT_EQ(1u, callbacks.size());
    EXPECT_EQ(L"50|ZOKAUtils|XMLParser|||callback 3", callbacks[0]);
    ASSERT_EQ(1u, own.calls.size());
    EXPECT_EQ(30, own.calls[0].level);
    EXPECT_EQ(L"StringUtils", own.calls[0].tag2);
    EXPECT_EQ(L"own 4", own.calls[0].message);
}

}  // namespace
