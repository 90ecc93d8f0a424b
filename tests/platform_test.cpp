#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/platform.h"
#include "tests/support/scratch_folder.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using quillmesh::platform::currentDirectory;
using quillmesh::platform::fileExists;
using quillmesh::platform::fileNamePart;
using quillmesh::platform::FileReadStatus;
using quillmesh::platform::PathParts;
using quillmesh::platform::readWholeFile;
using quillmesh::platform::setCurrentDirectory;
using quillmesh::platform::splitPath;
using quillmesh::platform::writeWholeFile;

TEST(PlatformPathSplit, SplitsLikeTheRuntimePathSplitter) {
    struct Case {
        const char* what;
        std::u16string path;
        PathParts expected;
    };
    const Case cases[] = {
        {"windows", u"C:\\textures\\wood.png", {u"C:", u"\\textures\\", u"wood", u".png"}},
        {"posix", u"/home/user/models/chair.kvt", {u"", u"/home/user/models/", u"chair", u".kvt"}},
        {"mixed separators", u"C:/a\\b/c.tar.gz", {u"C:", u"/a\\b/", u"c.tar", u".gz"}},
        {"no extension", u"textures\\wood", {u"", u"textures\\", u"wood", u""}},
        {"dotfile", u"models/.hidden", {u"", u"models/", u"", u".hidden"}},
        {"trailing separator", u"C:\\textures\\", {u"C:", u"\\textures\\", u"", u""}},
        {"drive only", u"C:", {u"C:", u"", u"", u""}},
        {"lower-case drive", u"c:", {u"c:", u"", u"", u""}},
        {"drive-relative", u"C:wood.png", {u"C:", u"", u"wood", u".png"}},
        {"unc", u"\\\\server\\share\\x.png", {u"", u"\\\\server\\share\\", u"x", u".png"}},
        {"empty", u"", {u"", u"", u"", u""}},
        {"dot in a directory", u"dir.v2/file", {u"", u"dir.v2/", u"file", u""}},
        {"trailing dot", u"file.", {u"", u"", u"file", u"."}},
        {"last dot wins", u"archive..bak", {u"", u"", u"archive.", u".bak"}},
        {"digit is no drive", u"1:\\x.png", {u"", u"1:\\", u"x", u".png"}},
        {"non-ascii letter is no drive", u"\u00C9:x", {u"", u"", u"\u00C9:x", u""}},
        {"colon later is no drive", u"ab:c.png", {u"", u"", u"ab:c", u".png"}},
        {"root", u"/", {u"", u"/", u"", u""}},
        {"file name only", u"wood.png", {u"", u"", u"wood", u".png"}},
        {"japanese",
         u"\u30E2\u30C7\u30EB\\\u6728.png",
         {u"", u"\u30E2\u30C7\u30EB\\", u"\u6728", u".png"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PathParts parts = splitPath(c.path);
        EXPECT_EQ(parts.drive, c.expected.drive);
        EXPECT_EQ(parts.directory, c.expected.directory);
        EXPECT_EQ(parts.baseName, c.expected.baseName);
        EXPECT_EQ(parts.extension, c.expected.extension);
    }
}

TEST(PlatformPathSplit, FileNamePartDropsDriveAndDirectories) {
    struct Case {
        std::u16string path;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"C:\\textures\\wood.png", u"wood.png"},
        {u"/a/b/c", u"c"},
        {u"C:wood.png", u"wood.png"},
        {u"dir/", u""},
        {u"", u""},
        {u".hidden", u".hidden"},
        {u"a/b.c/d", u"d"},
        {u"\\\\server\\share\\x.png", u"x.png"},
        {u"C:/mixed\\sep/arated.tga", u"arated.tga"},
        {u"\u043C\u043E\u0434\u0435\u043B\u0438/\u6728.png", u"\u6728.png"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileNamePart(c.path), c.expected);
    }
}

TEST(PlatformPathSplit, DeviceNamesAreKnownInFullUnicodeText) {
    const std::vector<std::u16string> devices{
        u"CON",       u"prn",    u"Aux.txt",      u"nUl.tar.gz", u"CONIN$",    u"conout$.log",
        u"COM0",      u"com9.b", u"LPT0",         u"Lpt5.dat",   u"COM\u00B9", u"com\u00B2.txt",
        u"LPT\u00B3", u"nul ",   u"aux  .\u6728", u"CON.",       u"con...",
    };
    // Near misses, and letters or digits that only look like a device's.
    const std::vector<std::u16string> files{
        u"CONSOLE",   u"COM10",     u"COM",       u"LPT.txt",  u" CON",
        u"CON_",      u"COM\u2074", u"COM\u0661", u"C\u00D6N", u"\uFF23\uFF2F\uFF2E",
        u"NUL\u00A0", u"",
    };
    for (const std::u16string& name : devices) {
        EXPECT_TRUE(quillmesh::platform::isDeviceName(name)) << quillmesh::platform::toUtf8(name);
    }
    for (const std::u16string& name : files) {
        EXPECT_FALSE(quillmesh::platform::isDeviceName(name)) << quillmesh::platform::toUtf8(name);
    }
}

// Well-formed text and its UTF-8 form, each the exact conversion of the other.
struct TextPair {
    std::u16string utf16;
    std::string utf8;
};

std::vector<TextPair> wellFormedPairs() {
    return {
        {u"", ""},
        {u"abc", "abc"},
        {std::u16string(u"a\0b", 3), std::string("a\0b", 3)},
        {u"\u007F\u0080", "\x7F\xC2\x80"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {u"\uFFFD\uFFFF", "\xEF\xBF\xBD\xEF\xBF\xBF"},
        {u"\U00010000", "\xF0\x90\x80\x80"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {u"\u043C\u043E\u0434\u0435\u043B\u0438",
         "\xD0\xBC\xD0\xBE\xD0\xB4\xD0\xB5\xD0\xBB\xD0\xB8"},
        {u"\u30E2\u30C7\u30EB", "\xE3\x83\xA2\xE3\x83\x87\xE3\x83\xAB"},
    };
}

TEST(PlatformText, Utf8AndUtf16ConvertBothWays) {
    for (const TextPair& pair : wellFormedPairs()) {
        EXPECT_EQ(quillmesh::platform::toUtf8(pair.utf16), pair.utf8);
        EXPECT_EQ(quillmesh::platform::fromUtf8(pair.utf8), pair.utf16);
    }
}

TEST(PlatformText, UnpairedSurrogatesBecomeReplacementCharacters) {
    struct Case {
        const char* what;
        std::u16string input;
        std::string expected;
    };
    const Case cases[] = {
        {"lone high", {0xD800}, "\xEF\xBF\xBD"},
        {"lone low", {0xDC00}, "\xEF\xBF\xBD"},
        {"high before a letter",
         {0xD800, u'A'},
         "\xEF\xBF\xBD"
         "A"},
        {"reversed pair", {0xDC00, 0xD800}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {"high at the end", {u'a', 0xD83D}, "a\xEF\xBF\xBD"},
        {"high before a pair", {0xD83D, 0xD83D, 0xDE00}, "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillmesh::platform::toUtf8(c.input), c.expected) << c.what;
    }
}

TEST(PlatformText, MalformedUtf8BecomesOneReplacementPerBrokenSequence) {
    struct Case {
        const char* what;
        std::string input;
        std::u16string expected;
    };
    const Case cases[] = {
        {"lone continuation", "\x80", u"\uFFFD"},
        {"overlong two-byte", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"cut short at the end", "\xE2\x82", u"\uFFFD"},
        {"cut short by a letter",
         "\xE2\x82"
         "A",
         u"\uFFFD"
         "A"},
        {"four-byte cut short",
         "\xF0\x9F\x98"
         "A",
         u"\uFFFD"
         "A"},
        {"invalid lead", "\xFF", u"\uFFFD"},
        {"five-byte form",
         "a\xF8\x88\x80\x80\x80"
         "b",
         u"a\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"
         "b"},
        {"two leads", "\xC3\xC3\xA9", u"\uFFFD\u00E9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillmesh::platform::fromUtf8(c.input), c.expected) << c.what;
    }
}

#ifndef _WIN32
TEST(PlatformText, NarrowTextIsUtf8OnPosix) {
    for (const TextPair& pair : wellFormedPairs()) {
        EXPECT_EQ(quillmesh::platform::wideToNarrow(pair.utf16), pair.utf8);
        EXPECT_EQ(quillmesh::platform::narrowToWide(pair.utf8), pair.utf16);
    }
    EXPECT_EQ(quillmesh::platform::wideToNarrow(std::u16string{u'x', 0xDC00}), "x\xEF\xBF\xBD");
    EXPECT_EQ(quillmesh::platform::narrowToWide("x\xFF"), u"x\uFFFD");
}
#else
TEST(PlatformText, NarrowTextKeepsAsciiAndNulsOnWindows) {
    std::string ascii;
    for (char c = ' '; c <= '~'; ++c) {
        ascii.push_back(c);
    }
    ascii += std::string("\0\t\n", 3);
    const std::u16string wide(ascii.begin(), ascii.end());
    EXPECT_EQ(quillmesh::platform::wideToNarrow(wide), ascii);
    EXPECT_EQ(quillmesh::platform::narrowToWide(ascii), wide);
}

TEST(PlatformText, NarrowTextUsesTheWesternCodePage) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 1252";
    }
    struct Case {
        const char* what;
        std::u16string wide;
        std::string narrow;
    };
    const Case cases[] = {
        {"latin-1", u"caf\u00E9", "caf\xE9"},           {"euro sign", u"\u20AC", "\x80"},
        {"no look-alike for a-macron", u"\u0101", "?"}, {"cyrillic", u"\u043C\u043E\u0434", "???"},
        {"lone surrogate", {u'x', 0xDC00}, "x?"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quillmesh::platform::wideToNarrow(c.wide), c.narrow) << c.what;
    }
    EXPECT_EQ(quillmesh::platform::narrowToWide("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
}
#endif

// Each test gets a folder of its own under the system's temporary folder; the process's
// current directory is put back before the folder is removed (Windows cannot remove the current
// directory).
class PlatformFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        originalDirectory_ = currentDirectory();
        ASSERT_FALSE(originalDirectory_.empty());
        root_ = quillmesh::testsupport::makeScratchFolder("quillmesh_platform_");
        ASSERT_FALSE(root_.empty()) << "no temporary folder could be made";
    }

    void TearDown() override {
        EXPECT_TRUE(setCurrentDirectory(originalDirectory_));
        if (!root_.empty()) {
            std::error_code error;
            fs::remove_all(root_, error);
            EXPECT_FALSE(error) << error.message();
        }
    }

    // Writes a fixture file with the standard library, so reading is tested apart from writing.
    static void makeFile(const fs::path& path, const std::string& content) {
        std::ofstream stream(path, std::ios::binary | std::ios::trunc);
        stream.write(content.data(), static_cast<std::streamsize>(content.size()));
        ASSERT_TRUE(stream.good()) << path;
    }

    static std::string fileContent(const fs::path& path) {
        std::ifstream stream(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(stream),
                           std::istreambuf_iterator<char>());
    }

    static std::u16string text(const fs::path& path) { return path.u16string(); }

    std::u16string originalDirectory_;
    fs::path root_;
};

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::string everyByteValue() {
    std::string bytes;
    for (int repeat = 0; repeat < 3; ++repeat) {
        for (int value = 0; value < 256; ++value) {
            bytes.push_back(static_cast<char>(value));
        }
    }
    return bytes;
}

TEST_F(PlatformFileTest, ReadsTheWholeFileAndReplacesTheBuffer) {
    struct Case {
        const char* what;
        std::string content;
    };
    const Case cases[] = {
        {"every byte value, CR LF and ^Z included", everyByteValue()},
        {"empty", ""},
        {"one byte", "K"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = root_ / "model.kvt";
        makeFile(path, c.content);
        std::vector<uint8_t> out = {1, 2, 3, 4, 5, 6, 7, 8, 9};
        EXPECT_EQ(readWholeFile(text(path), out), FileReadStatus::kOk);
        EXPECT_EQ(out, bytesOf(c.content));
    }
}

TEST_F(PlatformFileTest, ReadFailsToOpenWhatIsNoFile) {
    fs::create_directory(root_ / "folder");
    makeFile(root_ / "abc", "abc");
    struct Case {
        const char* what;
        std::u16string path;
    };
    const Case cases[] = {
        {"missing", text(root_ / "missing.kvt")},
        {"in a missing folder", text(root_ / "nowhere" / "model.kvt")},
        {"a folder", text(root_ / "folder")},
        {"empty path", u""},
        {"cut by a NUL", text(root_ / "abc") + std::u16string(u"\0.kvt", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> out = {1, 2, 3};
        EXPECT_EQ(readWholeFile(c.path, out), FileReadStatus::kCannotOpen);
        EXPECT_TRUE(out.empty());
    }
}

TEST_F(PlatformFileTest, RefusesFilesOfFourGibibytes) {
    const fs::path path = root_ / "huge.kvt";
    makeFile(path, "");
    std::error_code error;
    fs::resize_file(path, uint64_t{1} << 32, error);
    if (error) {
        GTEST_SKIP() << "no 4 GiB file here: " << error.message();
    }
    std::vector<uint8_t> out = {1};
    EXPECT_EQ(readWholeFile(text(path), out), FileReadStatus::kTooLarge);
    EXPECT_TRUE(out.empty());
}

TEST_F(PlatformFileTest, WriteCreatesAndReplacesWholeFiles) {
    const fs::path path = root_ / "out.bin";
    const std::string contents[] = {everyByteValue(), "short", ""};
    for (const std::string& content : contents) {
        SCOPED_TRACE(content.size());
        const std::vector<uint8_t> bytes = bytesOf(content);
        ASSERT_TRUE(writeWholeFile(text(path), bytes));
        EXPECT_EQ(fs::file_size(path), content.size());
        EXPECT_EQ(fileContent(path), content);
        std::vector<uint8_t> out;
        EXPECT_EQ(readWholeFile(text(path), out), FileReadStatus::kOk);
        EXPECT_EQ(out, bytes);
    }
}

TEST_F(PlatformFileTest, WriteFailsWhereNoFileCanBe) {
    fs::create_directory(root_ / "folder");
    makeFile(root_ / "abc", "abc");
    const std::vector<uint8_t> bytes = bytesOf("data");
    struct Case {
        const char* what;
        std::u16string path;
    };
    const Case cases[] = {
        {"in a missing folder", text(root_ / "nowhere" / "out.bin")},
        {"onto a folder", text(root_ / "folder")},
        {"empty path", u""},
        {"cut by a NUL", text(root_ / "abc") + std::u16string(u"\0.bin", 5)},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(writeWholeFile(c.path, bytes)) << c.what;
    }
    EXPECT_EQ(fileContent(root_ / "abc"), "abc");
    EXPECT_TRUE(fs::is_directory(root_ / "folder"));
}

TEST_F(PlatformFileTest, FileExistsOnlyForFiles) {
    fs::create_directory(root_ / "folder");
    makeFile(root_ / "wood.png", "png");
    makeFile(root_ / "empty.png", "");
    struct Case {
        const char* what;
        std::u16string path;
        bool exists;
    };
    const Case cases[] = {
        {"file", text(root_ / "wood.png"), true},
        {"empty file", text(root_ / "empty.png"), true},
        {"missing", text(root_ / "stone.png"), false},
        {"folder", text(root_ / "folder"), false},
        {"in a missing folder", text(root_ / "nowhere" / "wood.png"), false},
        {"empty path", u"", false},
        {"cut by a NUL", text(root_ / "wood.png") + std::u16string(u"\0x", 2), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fileExists(c.path), c.exists) << c.what;
    }
}

// ModelFiles carry Windows paths; the file services take '\\' as a separator everywhere.
TEST_F(PlatformFileTest, BackslashSeparatesOnEverySystem) {
    fs::create_directory(root_ / "sub");
    makeFile(root_ / "sub" / "f.bin", "content");
    const std::u16string path = text(root_) + u"\\sub\\f.bin";
    EXPECT_TRUE(fileExists(path));
    std::vector<uint8_t> out;
    EXPECT_EQ(readWholeFile(path, out), FileReadStatus::kOk);
    EXPECT_EQ(out, bytesOf("content"));
    EXPECT_TRUE(setCurrentDirectory(text(root_) + u"\\sub\\"));
    EXPECT_TRUE(fileExists(u"f.bin"));
}

TEST_F(PlatformFileTest, CurrentDirectoryRoundTripsAndResolvesRelativeNames) {
    const fs::path folder = root_ / "models";
    fs::create_directory(folder);
    ASSERT_TRUE(setCurrentDirectory(text(folder)));
    const std::u16string current = currentDirectory();
    ASSERT_FALSE(current.empty());
    EXPECT_TRUE(fs::equivalent(fs::path(current), folder));

    ASSERT_TRUE(writeWholeFile(u"relative.bin", bytesOf("rel")));
    EXPECT_EQ(fileContent(folder / "relative.bin"), "rel");
    EXPECT_TRUE(fileExists(u"relative.bin"));

    // A directory given with a separator at its end, as the model directory is.
    ASSERT_TRUE(setCurrentDirectory(text(root_) + u"/"));
    EXPECT_TRUE(fs::equivalent(fs::path(currentDirectory()), root_));
    EXPECT_FALSE(fileExists(u"relative.bin"));
}

TEST_F(PlatformFileTest, SettingTheCurrentDirectoryFailsForNonFolders) {
    makeFile(root_ / "file.txt", "x");
    ASSERT_TRUE(setCurrentDirectory(text(root_)));
    struct Case {
        const char* what;
        std::u16string path;
    };
    const Case cases[] = {
        {"missing", text(root_ / "missing")},
        {"a file", text(root_ / "file.txt")},
        {"empty", u""},
        {"cut by a NUL", text(root_) + std::u16string(u"\0x", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(setCurrentDirectory(c.path));
        EXPECT_TRUE(fs::equivalent(fs::path(currentDirectory()), root_));
    }
}

TEST_F(PlatformFileTest, NonLatinPathsWork) {
    const std::u16string folders[] = {
        u"\u043C\u043E\u0434\u0435\u043B\u0438",  // Cyrillic
        u"\u30E2\u30C7\u30EB",                    // Japanese
        u"\U0001F600 \u00E9",                     // beyond the BMP, and Latin-1
    };
    const std::u16string fileName = u"\u6728.kvt";
    for (const std::u16string& name : folders) {
        SCOPED_TRACE(testing::PrintToString(name));
        const fs::path folder = root_ / fs::path(name);
        ASSERT_TRUE(fs::create_directory(folder));
        const fs::path file = folder / fs::path(fileName);

        ASSERT_TRUE(writeWholeFile(text(file), bytesOf("KVTH")));
        // The standard library finds the file under the same name.
        EXPECT_EQ(fileContent(file), "KVTH");
        EXPECT_TRUE(fileExists(text(file)));
        std::vector<uint8_t> out;
        EXPECT_EQ(readWholeFile(text(file), out), FileReadStatus::kOk);
        EXPECT_EQ(out, bytesOf("KVTH"));

        ASSERT_TRUE(setCurrentDirectory(text(folder)));
        const std::u16string current = currentDirectory();
        ASSERT_GE(current.size(), name.size());
        EXPECT_EQ(current.substr(current.size() - name.size()), name);
        EXPECT_TRUE(fs::equivalent(fs::path(current), folder));
        EXPECT_TRUE(fileExists(fileName));
        EXPECT_EQ(readWholeFile(fileName, out), FileReadStatus::kOk);
        EXPECT_TRUE(setCurrentDirectory(originalDirectory_));
    }
}

#ifndef _WIN32
// An unpaired surrogate has no UTF-8 form: no system path may be made up for it.
TEST_F(PlatformFileTest, UnpairedSurrogatesNameNoPosixFile) {
    const std::u16string names[] = {
        text(root_) + u"/" + std::u16string{0xD800, u'x'},
        text(root_) + u"/" + std::u16string{u'x', 0xDC00},
    };
    for (const std::u16string& name : names) {
        EXPECT_FALSE(writeWholeFile(name, bytesOf("data")));
        std::vector<uint8_t> out;
        EXPECT_EQ(readWholeFile(name, out), FileReadStatus::kCannotOpen);
        EXPECT_FALSE(fileExists(name));
        EXPECT_FALSE(setCurrentDirectory(name));
    }
    EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(PlatformFileTest, CurrentDirectoryThatIsNotUtf8IsAFailure) {
    const fs::path folder = root_ / fs::path(std::string("bad\xFF"));
    ASSERT_TRUE(fs::create_directory(folder));
    fs::current_path(folder);
    EXPECT_EQ(currentDirectory(), u"");
}
#endif

}  // namespace
