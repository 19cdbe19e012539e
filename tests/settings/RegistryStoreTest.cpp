#include "platform/registry/RegistryStore.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/settings/EnvGuard.h"
#include "tests/settings/TempFolder.h"

extern char** environ;

namespace halvora {
namespace {

using test::EnvGuard;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr std::string_view kKey = "Software\\DivXNetworks\\Divx4Windows";

// Every test gets its own configuration folder, never the user's.
class Registry : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1); }

    std::filesystem::path RegFile() const { return config_ / "halvora" / "user.reg"; }
    void PutFile(std::string_view text) const {
        std::filesystem::create_directories(RegFile().parent_path());
        WriteBytes(RegFile(), text);
    }

    EnvGuard xdg_{"XDG_CONFIG_HOME"};
    TempFolder config_;
};

TEST(UserRegistryPath, FollowsXdgConfigHomeElseHome) {
    EnvGuard xdg("XDG_CONFIG_HOME");
    EnvGuard home("HOME");
    ::setenv("HOME", "/home/ann", 1);
    struct Case {
        const char* xdg;  // nullptr: unset
        const char* expected;
    } cases[] = {
        {"/tmp/cfg", "/tmp/cfg/halvora/user.reg"},
        {"", "/home/ann/.config/halvora/user.reg"},
        {nullptr, "/home/ann/.config/halvora/user.reg"},
        {"relative/cfg", "/home/ann/.config/halvora/user.reg"},  // not a valid base folder
    };
    for (const Case& c : cases) {
        if (c.xdg) {
            ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
        } else {
            ::unsetenv("XDG_CONFIG_HOME");
        }
        EXPECT_EQ(UserRegistryPath(), std::filesystem::path(c.expected)) << (c.xdg ? c.xdg : "(unset)");
    }
}

TEST_F(Registry, FirstWriteCreatesFolderAndFileInRegistryExportForm) {
    RegistryStore store;
    ASSERT_EQ(store.File(), RegFile());
    store.WriteDWord(kKey, "Bitrate", 20000);
    store.WriteString(kKey, "FileSend", "/home/ann/show.str");
    EXPECT_EQ(ReadBytes(RegFile()),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\DivXNetworks\\Divx4Windows]\n"
              "\"Bitrate\"=dword:00004e20\n"
              "\"FileSend\"=\"/home/ann/show.str\"\n");
}

TEST_F(Registry, DWordsRoundTrip) {
    RegistryStore store;
    for (const std::uint32_t value : {0u, 1u, 20000u, 0x7fffffffu, 0x80000000u, 0xffffffffu}) {
        store.WriteDWord(kKey, "Bitrate", value);
        EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), value);
        EXPECT_EQ(RegistryStore(RegFile()).ReadDWord(kKey, "Bitrate"), value) << "a second store sees it";
    }
}

TEST_F(Registry, StringsRoundTripByteForByte) {
    RegistryStore store;
    const std::string texts[] = {
        "",
        "/home/ann/show.str",
        "C:\\Program Files\\a \"quoted\" name\\",
        "\\\\\"\"\\",
        "ends with backslash\\",
        "two\nlines\r\nand a\ttab",
        "\\n is not a line break",
        "UTF-8: Привет, мир",
        std::string("\xff\xfe windows-1251 \xcf\xf0\xe8", 14),
        "  spaces kept  ",
        "[HKEY_CURRENT_USER\\Fake]",
    };
    for (const std::string& text : texts) {
        store.WriteString(kKey, "FileSend", text);
        EXPECT_EQ(store.ReadString(kKey, "FileSend"), text);
        EXPECT_FALSE(store.IsDamaged()) << text;
    }
}

TEST_F(Registry, EscapesBackslashAndQuoteInFile) {
    RegistryStore store;
    store.WriteString("Software\\Halvora", "Na\"me", "a\\b\"c");
    EXPECT_THAT(ReadBytes(RegFile()), HasSubstr("\n\"Na\\\"me\"=\"a\\\\b\\\"c\"\n"));
}

TEST_F(Registry, NamesMatchWithoutLetterCase) {
    RegistryStore store;
    store.WriteDWord(kKey, "Max Keyframe Interval", 10);
    EXPECT_EQ(store.ReadDWord("SOFTWARE\\divxnetworks\\DIVX4WINDOWS", "max keyframe INTERVAL"), 10u);
    EXPECT_TRUE(store.KeyExists("software\\DIVXNETWORKS\\divx4windows"));

    // A write in other letter case replaces the value and keeps its stored spelling.
    store.WriteDWord("software\\divxnetworks\\divx4windows", "MAX KEYFRAME INTERVAL", 12);
    EXPECT_EQ(store.ReadDWord(kKey, "Max Keyframe Interval"), 12u);
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("Max Keyframe Interval"));
    EXPECT_THAT(ReadBytes(RegFile()), HasSubstr("[HKEY_CURRENT_USER\\Software\\DivXNetworks\\Divx4Windows]\n"));
}

TEST_F(Registry, ReadsOfTheOtherTypeFailAndWritesReplaceTheType) {
    RegistryStore store;
    store.WriteDWord(kKey, "PortNumber", 80);
    EXPECT_EQ(store.ReadString(kKey, "PortNumber"), std::nullopt);

    store.WriteString(kKey, "PortNumber", "8080");
    EXPECT_EQ(store.ReadDWord(kKey, "PortNumber"), std::nullopt);
    EXPECT_EQ(store.ReadString(kKey, "PortNumber"), "8080");

    store.WriteDWord(kKey, "portnumber", 81);
    EXPECT_EQ(store.ReadDWord(kKey, "PortNumber"), 81u);
    EXPECT_EQ(store.ReadString(kKey, "PortNumber"), std::nullopt);
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("PortNumber"));
}

TEST_F(Registry, MissingFileKeyOrValueReadsAsAbsentAndCreatesNothing) {
    RegistryStore store;
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), std::nullopt);
    EXPECT_EQ(store.ReadString(kKey, "FileSend"), std::nullopt);
    EXPECT_FALSE(store.KeyExists(kKey));
    EXPECT_THAT(store.ValueNames(kKey), IsEmpty());
    EXPECT_FALSE(store.IsDamaged());
    EXPECT_FALSE(std::filesystem::exists(RegFile().parent_path())) << "a read must not create the folder";

    store.WriteDWord("Software\\Other", "Bitrate", 1);
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), std::nullopt) << "value of another key";
    store.CreateKey(kKey);
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), std::nullopt) << "empty key";
}

TEST_F(Registry, KeysValueNamesAndDeletion) {
    RegistryStore store;
    store.CreateKey(kKey);
    EXPECT_TRUE(store.KeyExists(kKey));
    EXPECT_TRUE(store.KeyExists("Software\\DivXNetworks")) << "a parent of a stored key exists";
    EXPECT_FALSE(store.KeyExists("Software\\DivX")) << "a name prefix is not a parent";
    EXPECT_FALSE(store.KeyExists("Software\\DivXNetworks\\Divx4Windows\\Sub"));

    store.WriteDWord(kKey, "Bitrate", 1);
    store.WriteString(kKey, "FileSend", "f");
    store.WriteDWord(kKey, "", 7);  // the key's default value
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("Bitrate", "FileSend", ""));
    EXPECT_THAT(ReadBytes(RegFile()), HasSubstr("\n@=dword:00000007\n"));
    EXPECT_EQ(store.ReadDWord(kKey, ""), 7u);

    EXPECT_TRUE(store.DeleteValue(kKey, "BITRATE"));
    EXPECT_FALSE(store.DeleteValue(kKey, "Bitrate"));
    EXPECT_FALSE(store.DeleteValue("Software\\Nowhere", "Bitrate"));
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("FileSend", ""));
    EXPECT_TRUE(store.KeyExists(kKey)) << "a key outlives its values";
}

TEST_F(Registry, ReadsHandWrittenExportFiles) {
    // What an editor or the platform's own export tool may leave: the older
    // header, CRLF, comments, upper-case hex, spaces around '='.
    PutFile("\xEF\xBB\xBFREGEDIT4\r\n"
            "\r\n"
            "; codec settings\r\n"
            "[hkey_current_user\\Software\\DivXNetworks\\Divx4Windows]\r\n"
            "\"Bitrate\" = DWORD:0000FFFF\r\n"
            "@=\"default\"\r\n"
            "\"Bitrate\"=dword:00000010\r\n"
            "\r\n"
            "[HKEY_CURRENT_USER\\Software\\DivXNetworks\\Divx4Windows]\r\n"
            "\"PortNumber\"=dword:00000050");
    RegistryStore store;
    EXPECT_FALSE(store.IsDamaged());
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), 0x10u) << "the later line wins";
    EXPECT_EQ(store.ReadDWord(kKey, "PortNumber"), 80u) << "a repeated key section adds to the key";
    EXPECT_EQ(store.ReadString(kKey, ""), "default");
}

TEST_F(Registry, EmptyFileIsAnEmptyRegistry) {
    PutFile("");
    RegistryStore store;
    EXPECT_FALSE(store.IsDamaged());
    store.WriteDWord(kKey, "Bitrate", 5);
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), 5u);
    EXPECT_FALSE(std::filesystem::exists(RegFile().string() + ".damaged"));
}

struct DamagedCase {
    const char* name;
    std::string text;
};
void PrintTo(const DamagedCase& c, std::ostream* os) { *os << c.name; }


const std::string kGood = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\DivXNetworks\\Divx4Windows]\n";

const DamagedCase kDamagedCases[] = {
    {"PlainText", "hello, this is not a registry file\n"},
    {"Binary", std::string("\x7f" "ELF\x02\x01\x01\0\0\0", 10)},
    {"Utf16Export", std::string("\xff\xfeW\0i\0n\0", 8)},
    {"NulInsideValue", kGood + std::string("\"Bitrate\"=dword:000\0" "4e20\n", 25)},
    {"TruncatedString", kGood + "\"FileSend\"=\"/home/ann/sh"},
    {"TruncatedDWord", kGood + "\"Bitrate\"=dword:00004e"},
    {"TruncatedName", kGood + "\"Bitra"},
    {"TruncatedSection", "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Div"},
    {"TooManyHexDigits", kGood + "\"Bitrate\"=dword:000004e20\n"},
    {"NotHex", kGood + "\"Bitrate\"=dword:0000ge20\n"},
    {"OtherValueType", kGood + "\"Data\"=hex:01,02\n"},
    {"UnknownEscape", kGood + "\"FileSend\"=\"a\\qb\"\n"},
    {"TextAfterString", kGood + "\"FileSend\"=\"a\" b\n"},
    {"ValueBeforeAnyKey", "\"Bitrate\"=dword:00004e20\n" + kGood},
    {"OtherHive", "[HKEY_LOCAL_MACHINE\\Software\\X]\n\"A\"=dword:00000001\n"},
    {"EmptyKeyComponent", "[HKEY_CURRENT_USER\\Software\\\\X]\n"},
    {"HeaderNotFirst", kGood + "Windows Registry Editor Version 5.00\n"},
    {"Oversized", kGood + "\"FileSend\"=\"" + std::string(RegistryStore::kMaxFileBytes, 'a') + "\"\n"},
};

class DamagedRegistry : public Registry, public ::testing::WithParamInterface<DamagedCase> {};

// A damaged file reads as empty, never throws, and the next write starts a
// fresh file while keeping the damaged one aside.
TEST_P(DamagedRegistry, ReadsAsEmptyAndIsReplacedByTheNextWrite) {
    const std::string& text = GetParam().text;
    PutFile(text);
    RegistryStore store;
    EXPECT_TRUE(store.IsDamaged());
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), std::nullopt);
    EXPECT_EQ(store.ReadString(kKey, "FileSend"), std::nullopt);
    EXPECT_FALSE(store.KeyExists(kKey));
    EXPECT_THAT(store.ValueNames(kKey), IsEmpty());

    store.WriteDWord(kKey, "PortNumber", 80);
    EXPECT_FALSE(store.IsDamaged());
    EXPECT_EQ(store.ReadDWord(kKey, "PortNumber"), 80u);
    EXPECT_THAT(store.ValueNames(kKey), ElementsAre("PortNumber"));
    EXPECT_EQ(ReadBytes(RegFile().string() + ".damaged"), text);
}

INSTANTIATE_TEST_SUITE_P(Cases, DamagedRegistry, ::testing::ValuesIn(kDamagedCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Registry, WriteFailuresThrowNamingFileAndReason) {
    TempFolder dir;
    WriteBytes(dir / "plain", "x");
    {
        RegistryStore store(dir / "plain" / "halvora" / "user.reg");
        try {
            store.WriteDWord(kKey, "Bitrate", 1);
            ADD_FAILURE() << "no RegistryError";
        } catch (const RegistryError& e) {
            EXPECT_THAT(e.what(), HasSubstr(store.File().string()));
            EXPECT_THAT(e.what(), HasSubstr(std::strerror(ENOTDIR)));
        }
        EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), std::nullopt);
    }
    {
        // A file that cannot be read is not replaced: its values would be lost.
        std::filesystem::create_directories(RegFile());
        RegistryStore store;
        EXPECT_TRUE(store.IsDamaged());
        try {
            store.WriteDWord(kKey, "Bitrate", 1);
            ADD_FAILURE() << "no RegistryError";
        } catch (const RegistryError& e) {
            EXPECT_THAT(e.what(), HasSubstr(RegFile().string()));
            EXPECT_THAT(e.what(), HasSubstr(std::strerror(EISDIR)));
        }
        EXPECT_TRUE(std::filesystem::is_directory(RegFile()));
    }
}

TEST_F(Registry, NamesAndTextsThatCannotBeStoredThrow) {
    RegistryStore store;
    store.WriteDWord(kKey, "Bitrate", 1);
    const std::string before = ReadBytes(RegFile());
    EXPECT_THROW(store.CreateKey(""), RegistryError);
    EXPECT_THROW(store.CreateKey("\\Software"), RegistryError);
    EXPECT_THROW(store.CreateKey("Software\\"), RegistryError);
    EXPECT_THROW(store.CreateKey("Software\\\\X"), RegistryError);
    EXPECT_THROW(store.WriteDWord("Soft\nware", "Bitrate", 1), RegistryError);
    EXPECT_THROW(store.WriteString(kKey, "FileSend", std::string("nul\0inside", 10)), RegistryError);
    EXPECT_THROW(store.WriteString(kKey, "FileSend", "bell\a"), RegistryError);
    EXPECT_THROW(store.WriteDWord(kKey, std::string("Bit\0rate", 8), 1), RegistryError);
    EXPECT_EQ(ReadBytes(RegFile()), before);
}

TEST_F(Registry, RefusesToGrowPastTheSizeLimit) {
    RegistryStore store;
    store.WriteDWord(kKey, "Bitrate", 1);
    EXPECT_THROW(store.WriteString(kKey, "FileSend", std::string(RegistryStore::kMaxFileBytes, 'a')), RegistryError);
    EXPECT_FALSE(store.IsDamaged());
    EXPECT_EQ(store.ReadDWord(kKey, "Bitrate"), 1u);
}

// Two writers that each read, change and rewrite the file: without the lock one
// would overwrite the other's fresh value with its own older copy, and without
// the atomic replacement a reader could see a half-written file.
enum class Writers { Processes, Threads };
void PrintTo(Writers w, std::ostream* os) { *os << (w == Writers::Processes ? "two processes" : "two threads"); }

class ConcurrentWriters : public Registry, public ::testing::WithParamInterface<Writers> {};

pid_t SpawnWriter(const std::filesystem::path& file, const char* prefix, int count) {
    const std::string file_arg = file.string();
    const std::string count_arg = std::to_string(count);
    const char* argv[] = {HALVORA_REGISTRY_WRITER, file_arg.c_str(), prefix, count_arg.c_str(), nullptr};
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, HALVORA_REGISTRY_WRITER, nullptr, nullptr, const_cast<char**>(argv), environ);
    return rc == 0 ? pid : -1;
}

void WriteInThread(const std::filesystem::path& file, const std::string& prefix, int count) {
    RegistryStore store(file);
    for (int i = 0; i < count; ++i) {
        const std::string name = prefix + std::to_string(i);
        store.WriteDWord("Software\\Halvora\\Race", name, static_cast<std::uint32_t>(i));
        store.WriteString("Software\\Halvora\\Race", "Last", name);
    }
}

TEST_P(ConcurrentWriters, NeverDamageTheFileNorLoseAValue) {
    constexpr int kCount = 150;
    constexpr std::string_view kRace = "Software\\Halvora\\Race";
    const std::filesystem::path file = RegFile();
    RegistryStore reader(file);

    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    pid_t pids[2] = {-1, -1};
    if (GetParam() == Writers::Processes) {
        pids[0] = SpawnWriter(file, "A", kCount);
        pids[1] = SpawnWriter(file, "B", kCount);
        ASSERT_GT(pids[0], 0);
        ASSERT_GT(pids[1], 0);
    } else {
        threads.emplace_back(WriteInThread, file, "A", kCount);
        threads.emplace_back(WriteInThread, file, "B", kCount);
    }

    // Meanwhile: every read sees a whole file, and values only ever accumulate.
    std::size_t seen = 0;
    int reads = 0;
    auto writers_running = [&] {
        if (GetParam() == Writers::Threads) {
            return !done.load();
        }
        for (pid_t& pid : pids) {
            int status = 0;
            if (pid > 0 && ::waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer failed";
                pid = -1;
            }
        }
        return pids[0] > 0 || pids[1] > 0;
    };
    std::thread joiner;
    if (GetParam() == Writers::Threads) {
        joiner = std::thread([&] {
            for (auto& t : threads) {
                t.join();
            }
            done = true;
        });
    }
    while (writers_running()) {
        ASSERT_FALSE(reader.IsDamaged());
        const std::size_t now = reader.ValueNames(kRace).size();
        ASSERT_GE(now, seen) << "a write lost values written before it";
        seen = now;
        ++reads;
    }
    if (joiner.joinable()) {
        joiner.join();
    }

    EXPECT_FALSE(reader.IsDamaged());
    for (const char* prefix : {"A", "B"}) {
        for (int i = 0; i < kCount; ++i) {
            const std::string name = prefix + std::to_string(i);
            EXPECT_EQ(reader.ReadDWord(kRace, name), static_cast<std::uint32_t>(i)) << name;
        }
    }
    EXPECT_EQ(reader.ValueNames(kRace).size(), 2u * kCount + 1);
    const auto last = reader.ReadString(kRace, "Last");
    EXPECT_TRUE(last == "A" + std::to_string(kCount - 1) || last == "B" + std::to_string(kCount - 1))
        << last.value_or("(none)");
    // Only the file and its lock file remain: no temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.parent_path()),
                            std::filesystem::directory_iterator()),
              2);
    RecordProperty("reads_during_writes", reads);
}

// A writer killed at any moment (power cut, kill -9) leaves either the old or
// the new file, never a damaged or emptied one, and no temporary files pile up.
TEST_F(Registry, WriterKilledMidWriteLeavesAWholeFile) {
    constexpr std::string_view kRace = "Software\\Halvora\\Race";
    RegistryStore store;
    for (int i = 0; i < 50; ++i) {
        store.WriteDWord(kRace, "Keep" + std::to_string(i), static_cast<std::uint32_t>(i));
    }
    for (int round = 0; round < 20; ++round) {
        const pid_t pid = SpawnWriter(RegFile(), "K", 1000000);
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(500 + 997 * (round % 13)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        ASSERT_FALSE(store.IsDamaged()) << "round " << round;
        for (int i = 0; i < 50; ++i) {
            ASSERT_EQ(store.ReadDWord(kRace, "Keep" + std::to_string(i)), static_cast<std::uint32_t>(i))
                << "round " << round;
        }
    }
    store.WriteDWord(kRace, "After", 1);
    // Only the file and its lock file: that write cleared the temporary files
    // the killed writers left.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(RegFile().parent_path()),
                            std::filesystem::directory_iterator()),
              2);
}

INSTANTIATE_TEST_SUITE_P(Both, ConcurrentWriters, ::testing::Values(Writers::Processes, Writers::Threads),
                         [](const auto& info) {
                             return info.param == Writers::Processes ? std::string("Processes")
                                                                     : std::string("Threads");
                         });

}  // namespace
}  // namespace halvora
