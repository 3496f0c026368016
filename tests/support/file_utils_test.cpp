#include "support/file_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/platform.h"
#include "base/unicode.h"
#include "logging/log_target.h"
#include "logging/logger.h"
#include "support_test_util.h"
#include "test_util.h"

namespace {

using supporttest::LibraryLogCapture;
using zoka::LEVEL_DEBUG;
using zoka::LEVEL_ERROR;
using zoka::LEVEL_INFO;
using zoka::LEVEL_WARN;

const std::wstring kSep(1, zoka::os::pathSeparator());
// An absolute root of the platform, for path surgery that touches no disk.
const std::wstring kRoot = kSep == L"\\" ? L"C:\\" : L"/";

std::wstring join(std::initializer_list<std::wstring> parts) {
    std::wstring out;
    for (const auto& p : parts) {
        if (!out.empty())
            out += kSep;
        out += p;
    }
    return out;
}

TEST(FileUtilsPaths, RemoveFileSpec) {
    struct Case {
        std::wstring in, out;
    } cases[] = {
        {kRoot + join({L"A", L"B.exe"}), kRoot + L"A"},
        {kRoot + join({L"A", L"B"}) + kSep + kSep, kRoot + L"A"},
        {kRoot + join({L"A", L"Sub", L"Setup.exe"}), kRoot + join({L"A", L"Sub"})},
    };
    LibraryLogCapture log;
    for (const auto& c : cases) {
        std::wstring path = c.in;
        EXPECT_TRUE(zoka::removeFileSpec(path)) << c.in;
        EXPECT_EQ(path, c.out) << c.in;
    }
    std::wstring empty;
    EXPECT_FALSE(zoka::removeFileSpec(empty));
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST(FileUtilsPaths, RemoveFileSpecOfTheRootFailsWithItsMessage) {
    LibraryLogCapture log;
    std::wstring root = kRoot;
    EXPECT_FALSE(zoka::removeFileSpec(root));
    EXPECT_EQ(root, kRoot);
    EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to remove file spec error: "), 1) << log.dump();
    ASSERT_EQ(log.records().size(), 1u);
    EXPECT_EQ(log.records()[0].libraryTag, L"ZOKAUtils");
    EXPECT_EQ(log.records()[0].moduleTag, L"FileUtils");
}

TEST(FileUtilsPaths, AppendPath) {
    const std::wstring base = kRoot + L"A";
    const std::wstring expected = base + kSep + L"b.txt";
    for (const std::wstring& start : {base, base + kSep}) {
        std::wstring path = start;
        EXPECT_TRUE(zoka::appendPath(path, L"b.txt")) << start;
        EXPECT_EQ(path, expected) << start;
    }
    std::wstring path = base;
    EXPECT_FALSE(zoka::appendPath(path, L""));
    EXPECT_EQ(path, base);
    std::wstring empty;
    EXPECT_FALSE(zoka::appendPath(empty, L"b.txt"));
    EXPECT_TRUE(empty.empty());
}

TEST(FileUtilsPaths, MakerFoldersEndWithTheMakersNames) {
    std::wstring common, product;
    ASSERT_TRUE(zoka::getMakerCommonFilesFolder(common));
    ASSERT_TRUE(zoka::getMakerProductFolder(product));
    const std::wstring commonSuffix = kSep + L"Quenda";
    const std::wstring productSuffix = kSep + L"Quenda" + kSep + L"Quenda Loomwork";
    ASSERT_GT(common.size(), commonSuffix.size());
    ASSERT_GT(product.size(), productSuffix.size());
    EXPECT_EQ(common.substr(common.size() - commonSuffix.size()), commonSuffix);
    EXPECT_EQ(product.substr(product.size() - productSuffix.size()), productSuffix);
}

class FileUtilsDisk : public ::testing::Test {
protected:
    testutil::ScratchDir scratch{L"fileutils"};
    std::wstring path(std::initializer_list<std::wstring> parts) const {
        return scratch.path() + kSep + join(parts);
    }
    // A tree: a.txt, sub/b.txt, sub/deeper/c.txt, empty/
    void makeTree(const std::wstring& root) {
        ASSERT_TRUE(zoka::ensureFolder(root + kSep + join({L"sub", L"deeper"})));
        ASSERT_TRUE(zoka::ensureFolder(root + kSep + L"empty"));
        ASSERT_TRUE(testutil::writeBytes(root + kSep + L"a.txt", "a"));
        ASSERT_TRUE(testutil::writeBytes(root + kSep + join({L"sub", L"b.txt"}), "b"));
        ASSERT_TRUE(testutil::writeBytes(root + kSep + join({L"sub", L"deeper", L"c.txt"}), "c"));
    }
};

TEST_F(FileUtilsDisk, EnsureFolder) {
    LibraryLogCapture log;
    const std::wstring nested = path({L"X", L"Y", L"Z"});
    EXPECT_TRUE(zoka::ensureFolder(nested));
    EXPECT_TRUE(zoka::os::isDirectory(nested));
    // Existing: true, nothing created or touched.
    ASSERT_TRUE(testutil::writeBytes(nested + kSep + L"keep.txt", "k"));
    EXPECT_TRUE(zoka::ensureFolder(nested));
    EXPECT_EQ(testutil::listFolder(nested), std::vector<std::wstring>{L"keep.txt"});
    // An existing file is not a folder: false without a message.
    EXPECT_FALSE(zoka::ensureFolder(nested + kSep + L"keep.txt"));
    EXPECT_TRUE(log.records().empty()) << log.dump();
    // A file in the way of a parent: the creation fails with its code.
    EXPECT_FALSE(zoka::ensureFolder(nested + kSep + join({L"keep.txt", L"child"})));
    EXPECT_EQ(log.count(LEVEL_ERROR, L"SHCreateDirectoryEx failed. Error: "), 1) << log.dump();
}

TEST_F(FileUtilsDisk, WriteTextFileWritesExactlyTheUtf8Bytes) {
    LibraryLogCapture log;
    struct Case {
        std::wstring text;
        std::string bytes;
    } cases[] = {
        {L"abc", "abc"},
        {L"", ""},
        {L"caf\u00e9 \u65e5\u672c \U0001F600",
         "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"},
        {L"line1\nline2\r\n", "line1\nline2\r\n"},  // no line-end translation, no BOM
    };
    const std::wstring file = path({L"out.xml"});
    for (const auto& c : cases) {
        // Written over a longer file each time: only the new bytes remain.
        ASSERT_TRUE(testutil::writeBytes(file, std::string(100, 'x')));
        EXPECT_TRUE(zoka::writeTextFile(file, c.text)) << c.bytes;
        EXPECT_EQ(testutil::readBytes(file), c.bytes);
    }
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST_F(FileUtilsDisk, WriteTextFileFailures) {
    LibraryLogCapture log;
    const std::wstring missing = path({L"no-such-folder", L"f.txt"});
    EXPECT_FALSE(zoka::writeTextFile(missing, L"abc"));
    EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to create file at path :" + missing + L" Error:"), 1)
        << log.dump();
    EXPECT_FALSE(zoka::os::pathExists(missing));

    // A read-only file is refused, not overwritten (Windows: ERROR_ACCESS_DENIED). Wine, whose
    // process runs as root here, overwrites it.
    const std::wstring readOnly = path({L"ro.txt"});
    ASSERT_TRUE(testutil::writeBytes(readOnly, "keep"));
    ASSERT_TRUE(supporttest::setReadOnly(readOnly, true));
    log.clear();
    if (testutil::underWine()) {
        EXPECT_TRUE(zoka::writeTextFile(readOnly, L"new"));
    } else {
        EXPECT_FALSE(zoka::writeTextFile(readOnly, L"new"));
        EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to create file at path :" + readOnly), 1)
            << log.dump();
        EXPECT_EQ(testutil::readBytes(readOnly), "keep");
    }
    supporttest::setReadOnly(readOnly, false);

    // A folder is not a file.
    log.clear();
    EXPECT_FALSE(zoka::writeTextFile(scratch.path(), L"abc"));
    EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to create file at path :"), 1) << log.dump();
}

TEST_F(FileUtilsDisk, ReadTextFileDecodesLikeTextModeUtf8) {
    const std::string longLine(5000, 'L');
    struct Case {
        const char* name;
        std::string bytes;
        std::wstring text;
    } cases[] = {
        {"CR LF becomes LF", "a\r\nb\r\n", L"a\nb\n"},
        {"lone CR stays", "a\rb", L"a\rb"},
        {"UTF-8 without BOM", "caf\xC3\xA9", L"caf\u00e9"},
        {"UTF-8 BOM skipped", "\xEF\xBB\xBF<r>\xE6\x97\xA5</r>", L"<r>\u65e5</r>"},
        {"UTF-16LE BOM", std::string("\xFF\xFEx\0\r\0\n\0\xE9\0", 10), L"x\n\u00e9"},
        {"line longer than 1023", longLine + "\r\nend", std::wstring(5000, L'L') + L"\nend"},
        {"empty", "", L""},
    };
    const std::wstring file = path({L"in.txt"});
    for (const auto& c : cases) {
        ASSERT_TRUE(testutil::writeBytes(file, c.bytes));
        std::wstring text = L"stale";
        EXPECT_TRUE(zoka::readTextFile(file, text)) << c.name;
        EXPECT_EQ(text, c.text) << c.name;
    }
}

TEST_F(FileUtilsDisk, ReadTextFileOfWhatCannotBeOpened) {
    // A device never ends: it is refused at once, not read until memory runs out.
    const std::wstring device = zoka::os::pathSeparator() == L'/' ? L"/dev/zero" : L"NUL";
    for (const std::wstring& target : {path({L"missing.txt"}), scratch.path(), device}) {
        std::wstring text = L"stale";
        EXPECT_FALSE(zoka::readTextFile(target, text)) << target;
        EXPECT_TRUE(text.empty()) << target;
    }
}

TEST_F(FileUtilsDisk, DeleteFile) {
    LibraryLogCapture log;
    EXPECT_TRUE(zoka::deleteFile(path({L"missing.txt"}), false));

    const std::wstring plain = path({L"plain.txt"});
    ASSERT_TRUE(testutil::writeBytes(plain, "p"));
    EXPECT_TRUE(zoka::deleteFile(plain, false));
    EXPECT_FALSE(zoka::os::pathExists(plain));
    EXPECT_TRUE(log.records().empty()) << log.dump();

    // Read-only: refused without removeReadOnly, cleared and deleted with it.
    const std::wstring readOnly = path({L"ro.txt"});
    ASSERT_TRUE(testutil::writeBytes(readOnly, "r"));
    ASSERT_TRUE(supporttest::setReadOnly(readOnly, true));
    EXPECT_FALSE(zoka::deleteFile(readOnly, false));
    EXPECT_TRUE(zoka::os::pathExists(readOnly));
    EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to delete file: '" + readOnly + L"' LastError:"), 1)
        << log.dump();
    EXPECT_EQ(log.count(LEVEL_DEBUG, L"File '"), 0);

    log.clear();
    EXPECT_TRUE(zoka::deleteFile(readOnly, true));
    EXPECT_FALSE(zoka::os::pathExists(readOnly));
    EXPECT_EQ(
        log.count(LEVEL_DEBUG, L"File '" + readOnly + L"' is with read-only. Its attribute is: '"),
        1)
        << log.dump();
    EXPECT_EQ(log.count(LEVEL_ERROR, L""), 0) << log.dump();
}

TEST_F(FileUtilsDisk, DeleteFileMessagesGoToTheGivenLogger) {
    LibraryLogCapture hook;
    supporttest::RecordingLogger logger;
    const std::wstring readOnly = path({L"ro.txt"});
    ASSERT_TRUE(testutil::writeBytes(readOnly, "r"));
    ASSERT_TRUE(supporttest::setReadOnly(readOnly, true));
    EXPECT_FALSE(zoka::deleteFile(readOnly, false, &logger));
    supporttest::setReadOnly(readOnly, false);
    EXPECT_TRUE(hook.records().empty()) << hook.dump();
    ASSERT_EQ(logger.records.size(), 1u);
    EXPECT_EQ(logger.records[0].level, LEVEL_ERROR);
    EXPECT_EQ(logger.records[0].libraryTag, L"");          // tag1
    EXPECT_EQ(logger.records[0].moduleTag, L"FileUtils");  // tag2
}

// A trace or debug marker in the temporary folder brings the support libraries' lines into the
// program's own log; without one, they stay out of it.
TEST_F(FileUtilsDisk, MarkersBringDeletionDetailIntoTheLog) {
    const struct {
        const wchar_t* marker;
        bool detail;
    } cases[] = {{nullptr, false}, {L"ZOKA.debug", true}, {L"kiv.trace", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.marker != nullptr ? zoka::toUtf8(c.marker) : "no marker");
        const std::wstring temp = path({L"temp"});
        ASSERT_TRUE(zoka::ensureFolder(temp));
        if (c.marker != nullptr) {
            ASSERT_TRUE(testutil::writeBytes(temp + kSep + c.marker, ""));
        }
        const std::wstring readOnly = path({L"ro.txt"});
        ASSERT_TRUE(testutil::writeBytes(readOnly, "r"));
        ASSERT_TRUE(supporttest::setReadOnly(readOnly, true));
        {
            testutil::TempFolderOverride tempFolder(temp);
            zoka::LogTargetDefault target(L"MarkerDetail");
            ASSERT_TRUE(target.setFile(L"detail.log", temp.c_str()));
            zoka::LogTargetRegistry::instance().addTarget(&target);
            zoka::Logger logger;
            logger.targetKey = L"MarkerDetail";
            const zoka::LibraryLogDetail detail(logger, target.threshold);
            EXPECT_EQ(detail.connected(), c.detail);
            // The first attempt fails on the read-only file, the retry clears it.
            EXPECT_TRUE(zoka::deleteFile(readOnly, true));
        }
        EXPECT_EQ(zoka::libraryLogger, nullptr);
        bool found = false;
        for (const std::wstring& line :
             testutil::utf16leLines(testutil::readBytes(temp + kSep + L"detail.log").substr(2)))
            found = found || (line.find(L"DEBUG") != std::wstring::npos &&
                              line.find(L"File '" + readOnly + L"' is with read-only.") !=
                                  std::wstring::npos);
        EXPECT_EQ(found, c.detail);
        ASSERT_TRUE(testutil::removeTree(temp));
    }
}

TEST_F(FileUtilsDisk, DeleteDirectoryMissingOrNotRecursive) {
    LibraryLogCapture log;
    std::wstring failed = L"before";
    const std::wstring missing = path({L"missing"});
    EXPECT_FALSE(zoka::deleteDirectory(missing, failed, true, false, nullptr, true));
    EXPECT_EQ(
        log.count(LEVEL_WARN, L"Directory to delete not present at location '" + missing + L"'"), 1)
        << log.dump();

    const std::wstring tree = path({L"tree"});
    makeTree(tree);
    log.clear();
    EXPECT_FALSE(zoka::deleteDirectory(tree, failed, false, false, nullptr, true));
    EXPECT_TRUE(log.records().empty()) << log.dump();
    EXPECT_TRUE(zoka::os::pathExists(tree + kSep + L"a.txt"));
    EXPECT_EQ(failed, L"before");

    // Non-recursive on an empty folder removes it.
    const std::wstring empty = tree + kSep + L"empty";
    EXPECT_TRUE(zoka::deleteDirectory(empty, failed, false, false, nullptr, false));
    EXPECT_FALSE(zoka::os::pathExists(empty));
}

TEST_F(FileUtilsDisk, DeleteDirectoryRemovesATreeAndLogsOnce) {
    LibraryLogCapture log;
    const std::wstring tree = path({L"tree"});
    makeTree(tree);
    std::wstring failed;
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, true));
    EXPECT_FALSE(zoka::os::pathExists(tree));
    EXPECT_TRUE(failed.empty());
    ASSERT_EQ(log.records().size(), 1u) << log.dump();
    EXPECT_EQ(log.records()[0].level, LEVEL_INFO);
    EXPECT_EQ(log.records()[0].text,
              L"Successfully deleted directory from path: " + tree + L". Recursive: 1");

    makeTree(tree);
    log.clear();
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, false, nullptr, false));
    EXPECT_TRUE(log.records().empty()) << log.dump();
}

TEST_F(FileUtilsDisk, DeleteDirectoryWithAFileThatCannotBeDeleted) {
    LibraryLogCapture log;
    const std::wstring tree = path({L"tree"});
    makeTree(tree);
    const std::wstring stuck = tree + kSep + join({L"sub", L"deeper", L"c.txt"});
    ASSERT_TRUE(supporttest::setReadOnly(stuck, true));

    std::wstring failed = L"before";
    EXPECT_FALSE(zoka::deleteDirectory(tree, failed, true, false, nullptr, true));
    EXPECT_EQ(failed, stuck);
    // Everything else went; the stuck file keeps its folders.
    EXPECT_EQ(testutil::listFolder(tree), std::vector<std::wstring>{L"sub"});
    EXPECT_EQ(testutil::listFolder(tree + kSep + L"sub"), std::vector<std::wstring>{L"deeper"});
    EXPECT_TRUE(zoka::os::pathExists(stuck));
    EXPECT_EQ(log.count(LEVEL_ERROR, L"Failed to delete file: '" + stuck + L"'"), 1) << log.dump();
    EXPECT_EQ(log.count(LEVEL_INFO, L""), 0) << log.dump();

    // With removeReadOnly the rest goes too.
    log.clear();
    EXPECT_TRUE(zoka::deleteDirectory(tree, failed, true, true, nullptr, false));
    EXPECT_FALSE(zoka::os::pathExists(tree));
    EXPECT_EQ(log.count(LEVEL_DEBUG, L"File '" + stuck + L"' is with read-only."), 1) << log.dump();
}

TEST_F(FileUtilsDisk, DeleteDirectoryOfAReadOnlyFolder) {
    LibraryLogCapture log;
    const std::wstring folder = path({L"ro"});
    ASSERT_TRUE(zoka::ensureFolder(folder));
    ASSERT_TRUE(testutil::writeBytes(folder + kSep + L"f.txt", "f"));
    ASSERT_TRUE(supporttest::setReadOnly(folder, true));

    std::wstring failed;
    if (testutil::underWine()) {
        // Wine keeps no read-only attribute on a folder and its RemoveDirectoryW removes the
        // folder; Windows refuses to remove a read-only folder, as expected below.
        EXPECT_TRUE(zoka::deleteDirectory(folder, failed, true, false, nullptr, false));
        EXPECT_FALSE(zoka::os::pathExists(folder));
        return;
    }
    EXPECT_FALSE(zoka::deleteDirectory(folder, failed, true, false, nullptr, false));
    EXPECT_TRUE(zoka::os::isDirectory(folder));
    EXPECT_EQ(log.count(LEVEL_DEBUG, L"Directory '"), 0) << log.dump();

    log.clear();
    EXPECT_TRUE(zoka::deleteDirectory(folder, failed, true, true, nullptr, true));
    EXPECT_FALSE(zoka::os::pathExists(folder));
    EXPECT_EQ(log.count(LEVEL_DEBUG,
                        L"Directory '" + folder + L"' is with read-only. Its attribute is: '"),
              1)
        << log.dump();
    EXPECT_EQ(log.count(LEVEL_INFO, L"Successfully deleted directory from path: " + folder), 1);
}

}  // namespace
