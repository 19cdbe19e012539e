#include "platform/settings/SettingsFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "platform/paths/ProgramFolder.h"
#include "tests/settings/TempFolder.h"

namespace halvora {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

struct ReadCase {
    const char* name;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
    std::size_t max_chars = kStartupValueChars;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }


const std::string k600(600, 'x');
const std::string k3000 = std::string(2047, 'a') + std::string(953, 'b');

const ReadCase kReadCases[] = {
    {"Exact", "[SETTINGS]\nSKIN=blue.skn\n", "SETTINGS", "SKIN", "blue.skn"},
    {"OtherLetterCase", "[Settings]\nskin=blue.skn\n", "SETTINGS", "SKIN", "blue.skn"},
    {"SpacesAroundNamesAndValue", "  [ SETTINGS ]  \n  SKIN   =   blue.skn \t \n", "SETTINGS", "SKIN", "blue.skn"},
    {"SpacesInsideValueKept", "[SETTINGS]\nSKIN=my blue  skin.skn\n", "SETTINGS", "SKIN", "my blue  skin.skn"},
    {"QuotesRemoved", "[SETTINGS]\nSKIN=\"  spaced  \"\n", "SETTINGS", "SKIN", "  spaced  "},
    {"OnlyOnePairOfQuotesRemoved", "[SETTINGS]\nSKIN=\"\"x\"\"\n", "SETTINGS", "SKIN", "\"x\""},
    {"UnbalancedQuoteKept", "[SETTINGS]\nSKIN=\"x\n", "SETTINGS", "SKIN", "\"x"},
    {"LoneQuoteKept", "[SETTINGS]\nSKIN=\"\n", "SETTINGS", "SKIN", "\""},
    {"EmptyValueIsNotMissing", "[SETTINGS]\nSKIN=\n", "SETTINGS", "SKIN", ""},
    {"EqualsSignInValue", "[SETTINGS]\nSKIN=a=b\n", "SETTINGS", "SKIN", "a=b"},
    {"LongStartupValueCut", "[SETTINGS]\nSKIN=" + k600 + "\n", "SETTINGS", "SKIN", std::string(511, 'x')},
    {"LanguageValueCut", "[Form1]\nLabel8=" + k3000 + "\n", "Form1", "Label8", std::string(2047, 'a'),
     kLanguageValueChars},
    {"CutAfterQuotesRemoved", "[SETTINGS]\nSKIN=\"" + k600 + "\"\n", "SETTINGS", "SKIN", std::string(511, 'x')},
    {"CrLfLines", "[SETTINGS]\r\nSKIN=blue.skn\r\nLanguageFileName=russian.lng\r\n", "SETTINGS",
     "LanguageFileName", "russian.lng"},
    {"NoFinalLineEnding", "[SETTINGS]\nSKIN=blue.skn", "SETTINGS", "SKIN", "blue.skn"},
    {"Utf8ByteOrderMarkSkipped", "\xEF\xBB\xBF[Language]\nLang=Русский\n", "Language", "Lang", "Русский"},
    {"FirstOfTwoKeysCounts", "[SETTINGS]\nSKIN=first\nskin=second\n", "SETTINGS", "SKIN", "first"},
    {"KeyOfAnotherSectionNotFound", "[Other]\nSKIN=x\n[SETTINGS]\nLanguageFileName=a\n", "SETTINGS", "SKIN",
     "default"},
    {"KeyBeforeAnySectionNotFound", "SKIN=x\n[SETTINGS]\n", "SETTINGS", "SKIN", "default"},
    {"CommentedKeyNotFound", "[SETTINGS]\n;SKIN=x\n  ; SKIN=y\n", "SETTINGS", "SKIN", "default"},
    {"MissingSection", "[Other]\nSKIN=x\n", "SETTINGS", "SKIN", "default"},
    {"MissingKey", "[SETTINGS]\nLanguageFileName=a\n", "SETTINGS", "SKIN", "default"},
    {"LineWithoutEqualsIsNoKey", "[SETTINGS]\nSKIN\n", "SETTINGS", "SKIN", "default"},
    {"BinaryGarbage", std::string("\0\x01\xff[SET\0", 8), "SETTINGS", "SKIN", "default"},
};

class SettingsRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(SettingsRead, ReadsValueOrDefault) {
    const ReadCase& c = GetParam();
    TempFolder dir;
    WriteBytes(dir / "setup.ini", c.file);
    SettingsFile file(dir / "setup.ini");
    EXPECT_EQ(file.ReadString(c.section, c.key, "default", c.max_chars), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsRead, ::testing::ValuesIn(kReadCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsReadMissing, MissingFileOrFolderGivesDefault) {
    TempFolder dir;
    EXPECT_EQ(SettingsFile(dir / "setup.ini").ReadString("SETTINGS", "LanguageFileName", "english.lng"),
              "english.lng");
    EXPECT_EQ(SettingsFile(dir / "no" / "setup.ini").ReadString("SETTINGS", "SKIN", ""), "");
    // A folder where the file should be is as good as missing.
    std::filesystem::create_directory(dir / "Languages.lng");
    EXPECT_EQ(SettingsFile(dir / "Languages.lng").ReadString("Language", "Lang", "x"), "x");
}

TEST(SettingsReadMissing, DefaultIsCutLikeAValue) {
    TempFolder dir;
    EXPECT_EQ(SettingsFile(dir / "setup.ini").ReadString("SETTINGS", "SKIN", k600), std::string(511, 'x'));
}

TEST(SettingsReadMissing, OversizedFileReadsAsMissing) {
    TempFolder dir;
    std::string big = "[SETTINGS]\nSKIN=big\n";
    big.resize(SettingsFile::kMaxFileBytes + 1, ';');
    WriteBytes(dir / "setup.ini", big);
    EXPECT_EQ(SettingsFile(dir / "setup.ini").ReadString("SETTINGS", "SKIN", "default"), "default");
}

struct WriteCase {
    const char* name;
    std::optional<std::string> before;  // nullopt: no file
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};
void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }


const WriteCase kWriteCases[] = {
    {"CreatesFile", std::nullopt, "SETTINGS", "SKIN", "blue.skn", "[SETTINGS]\nSKIN=blue.skn\n"},
    {"FillsEmptyFile", "", "SETTINGS", "SKIN", "blue.skn", "[SETTINGS]\nSKIN=blue.skn\n"},
    {"AppendsSection", "; look\n[Other]\na=1\n", "SETTINGS", "SKIN", "x",
     "; look\n[Other]\na=1\n\n[SETTINGS]\nSKIN=x\n"},
    {"AppendsSectionAfterUnterminatedLine", "[Other]\na=1", "SETTINGS", "SKIN", "x",
     "[Other]\na=1\n\n[SETTINGS]\nSKIN=x\n"},
    {"AddsKeyAfterLastKeyOfSection", "[SETTINGS]\nSKIN=a\n; note\n\n[Next]\nb=2\n", "SETTINGS",
     "LanguageFileName", "russian.lng", "[SETTINGS]\nSKIN=a\nLanguageFileName=russian.lng\n; note\n\n[Next]\nb=2\n"},
    {"AddsKeyToEmptySection", "[SETTINGS]\n[Next]\nb=2\n", "SETTINGS", "SKIN", "x",
     "[SETTINGS]\nSKIN=x\n[Next]\nb=2\n"},
    {"AddsKeyAfterUnterminatedLastLine", "[SETTINGS]\nSKIN=a", "SETTINGS", "Lang", "x",
     "[SETTINGS]\nSKIN=a\nLang=x\n"},
    {"ReplacesValueKeepingOtherLines", "; top\n[SETTINGS]\n  SKIN = old.skn  \nLanguageFileName=a\n[X]\nSKIN=keep\n",
     "SETTINGS", "SKIN", "new.skn", "; top\n[SETTINGS]\n  SKIN=new.skn\nLanguageFileName=a\n[X]\nSKIN=keep\n"},
    {"ReplacesInOtherLetterCaseKeepingStoredSpelling", "[Settings]\nskin=old\n", "SETTINGS", "SKIN", "new",
     "[Settings]\nskin=new\n"},
    {"ReplacesOnlyFirstOfTwoKeys", "[SETTINGS]\nSKIN=1\nSKIN=2\n", "SETTINGS", "SKIN", "3",
     "[SETTINGS]\nSKIN=3\nSKIN=2\n"},
    {"KeepsCrLf", "[Other]\r\na=1\r\n[SETTINGS]\r\nSKIN=old\r\n", "SETTINGS", "SKIN", "new",
     "[Other]\r\na=1\r\n[SETTINGS]\r\nSKIN=new\r\n"},
    {"KeepsCrLfWhenAdding", "[SETTINGS]\r\nSKIN=a\r\n", "Form1", "Label8", "Mode:",
     "[SETTINGS]\r\nSKIN=a\r\n\r\n[Form1]\r\nLabel8=Mode:\r\n"},
    {"KeepsByteOrderMark", "\xEF\xBB\xBF[Language]\nLang=English\n", "Language", "Lang", "Deutsch",
     "\xEF\xBB\xBF[Language]\nLang=Deutsch\n"},
    {"WritesBytesUnchanged", std::nullopt, "Form2", "Label5", "Язык \"x\"",
     "[Form2]\nLabel5=Язык \"x\"\n"},
};

class SettingsWrite : public ::testing::TestWithParam<WriteCase> {};

TEST_P(SettingsWrite, ChangesOnlyItsLine) {
    const WriteCase& c = GetParam();
    TempFolder dir;
    if (c.before) {
        WriteBytes(dir / "setup.ini", *c.before);
    }
    SettingsFile file(dir / "setup.ini");
    file.WriteString(c.section, c.key, c.value);
    EXPECT_EQ(ReadBytes(dir / "setup.ini"), c.after);
    EXPECT_EQ(file.ReadString(c.section, c.key, "default"), c.value);
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsWrite, ::testing::ValuesIn(kWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A write that cannot be carried out throws, names the file and says why, and
// leaves what was there.
TEST(SettingsWriteFailure, UnwritablePlacesThrowWithFileAndReason) {
    TempFolder dir;
    WriteBytes(dir / "plain", "x");
    std::filesystem::create_directory(dir / "setup.ini");
    struct Case {
        std::filesystem::path file;
        const char* reason;
    } cases[] = {
        {dir / "plain" / "setup.ini", std::strerror(ENOTDIR)},
        {dir / "setup.ini", std::strerror(EISDIR)},
        {dir / "missing" / "setup.ini", std::strerror(ENOENT)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.string());
        try {
            SettingsFile(c.file).WriteString("SETTINGS", "SKIN", "x");
            ADD_FAILURE() << "no SettingsError";
        } catch (const SettingsError& e) {
            EXPECT_NE(std::string(e.what()).find(c.file.string()), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(ReadBytes(dir / "plain"), "x");
}

// Permission bits do not stop root, so these two run for ordinary users only.
TEST(SettingsWriteFailure, ReadOnlyFileOrFolderThrows) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "permission bits do not apply to root";
    }
    TempFolder dir;
    WriteBytes(dir / "setup.ini", "[SETTINGS]\nSKIN=old\n");
    ::chmod((dir / "setup.ini").c_str(), 0444);
    EXPECT_THROW(SettingsFile(dir / "setup.ini").WriteString("SETTINGS", "SKIN", "new"), SettingsError);
    EXPECT_EQ(ReadBytes(dir / "setup.ini"), "[SETTINGS]\nSKIN=old\n");

    std::filesystem::create_directory(dir / "ro");
    ::chmod((dir / "ro").c_str(), 0555);
    EXPECT_THROW(SettingsFile(dir / "ro" / "setup.ini").WriteString("SETTINGS", "SKIN", "new"), SettingsError);
}

TEST(SettingsWriteFailure, TextsThatCannotBeStoredThrowAndLeaveFile) {
    TempFolder dir;
    const std::string before = "[SETTINGS]\nSKIN=old\n";
    WriteBytes(dir / "setup.ini", before);
    SettingsFile file(dir / "setup.ini");
    EXPECT_THROW(file.WriteString("SETTINGS", "SKIN", "two\nlines"), SettingsError);
    EXPECT_THROW(file.WriteString("SETTINGS", "SKIN", "cr\r"), SettingsError);
    EXPECT_THROW(file.WriteString("SETTINGS", "A=B", "x"), SettingsError);
    EXPECT_THROW(file.WriteString("SETTINGS", " ", "x"), SettingsError);
    EXPECT_THROW(file.WriteString("SETTINGS", ";SKIN", "x"), SettingsError);
    EXPECT_THROW(file.WriteString("SET]TINGS", "SKIN", "x"), SettingsError);
    EXPECT_THROW(file.WriteString("", "SKIN", "x"), SettingsError);
    EXPECT_EQ(ReadBytes(dir / "setup.ini"), before);
}

TEST(SettingsWriteFile, KeepsPermissionsAndFollowsSymbolicLink) {
    TempFolder dir;
    WriteBytes(dir / "real.ini", "[SETTINGS]\nSKIN=old\n");
    ::chmod((dir / "real.ini").c_str(), 0640);
    std::filesystem::create_symlink(dir / "real.ini", dir / "setup.ini");

    SettingsFile(dir / "setup.ini").WriteString("SETTINGS", "SKIN", "new");

    EXPECT_TRUE(std::filesystem::is_symlink(dir / "setup.ini"));
    EXPECT_EQ(ReadBytes(dir / "real.ini"), "[SETTINGS]\nSKIN=new\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
              2);
}

TEST(SettingsSetup, IsSetupIniInProgramFolder) {
    TempFolder dir;
    SetProgramFolder(dir.Path());
    SettingsFile::Setup().WriteString("SETTINGS", "LanguageFileName", "russian.lng");
    EXPECT_EQ(SettingsFile::Setup().File(), dir / "setup.ini");
    EXPECT_EQ(SettingsFile(dir / "setup.ini").ReadString("settings", "languagefilename", "english.lng"),
              "russian.lng");
}

}  // namespace
}  // namespace halvora
