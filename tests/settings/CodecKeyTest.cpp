#include "platform/registry/CodecKey.h"

#include <cstdint>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/settings/EnvGuard.h"
#include "tests/settings/TempFolder.h"

namespace halvora {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;
using ::testing::AllOf;
using ::testing::HasSubstr;

class CodecKeyTest : public ::testing::Test {
protected:
    RegistryStore Store() const { return RegistryStore(config_ / "halvora" / "user.reg"); }
    TempFolder config_;
};

TEST_F(CodecKeyTest, OpeningCreatesTheEmptyKey) {
    EXPECT_FALSE(Store().KeyExists(kCodecKeyPath));
    CodecKey key(Store());
    EXPECT_TRUE(Store().KeyExists(kCodecKeyPath));
    EXPECT_EQ(ReadBytes(Store().File()),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\DivXNetworks\\Divx4Windows]\n");
    EXPECT_EQ(key.Store().File(), Store().File());
}

TEST_F(CodecKeyTest, OpeningKeepsWhatIsThere) {
    Store().WriteDWord(kCodecKeyPath, "PortNumber", 8080);
    CodecKey key(Store());
    EXPECT_EQ(key.ReadInteger("PortNumber"), 8080);
}

TEST_F(CodecKeyTest, DefaultStoreIsTheUserRegistry) {
    test::EnvGuard xdg("XDG_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", config_.Path().c_str(), 1);
    CodecKey key;
    EXPECT_EQ(key.Store().File(), config_ / "halvora" / "user.reg");
    EXPECT_TRUE(std::filesystem::exists(config_ / "halvora" / "user.reg"));
}

TEST_F(CodecKeyTest, IntegersRoundTripAsSignedDWords) {
    CodecKey key(Store());
    const struct {
        std::int32_t value;
        const char* stored;
    } cases[] = {{20000, "dword:00004e20"}, {0, "dword:00000000"}, {-1, "dword:ffffffff"},
                 {INT32_MIN, "dword:80000000"}, {INT32_MAX, "dword:7fffffff"}};
    for (const auto& c : cases) {
        key.WriteInteger("Bitrate", c.value);
        EXPECT_EQ(key.ReadInteger("Bitrate"), c.value);
        std::int32_t out = 0;
        EXPECT_TRUE(key.TryReadInteger("bitrate", out));
        EXPECT_EQ(out, c.value);
        EXPECT_THAT(ReadBytes(Store().File()), HasSubstr(std::string("\"Bitrate\"=") + c.stored + "\n"));
    }
}

TEST_F(CodecKeyTest, ReadingMissingOrTextValueFails) {
    CodecKey key(Store());
    key.WriteString("FileSend", "/home/ann/show.str");
    EXPECT_EQ(Store().ReadString(kCodecKeyPath, "FileSend"), "/home/ann/show.str");

    const struct {
        const char* name;
        const char* reason;
    } cases[] = {{"Bitrate", "missing"}, {"FileSend", "not a 32-bit number"}};
    for (const auto& c : cases) {
        try {
            key.ReadInteger(c.name);
            ADD_FAILURE() << c.name << ": no RegistryError";
        } catch (const RegistryError& e) {
            EXPECT_THAT(e.what(), AllOf(HasSubstr(Store().File().string()), HasSubstr(c.name), HasSubstr(c.reason)));
        }
        std::int32_t out = 1234;
        EXPECT_FALSE(key.TryReadInteger(c.name, out));
        EXPECT_EQ(out, 1234) << "left untouched";
    }
}

TEST_F(CodecKeyTest, KeyThatCannotBeCreatedThrows) {
    WriteBytes(config_ / "halvora", "a file where the folder should be");
    EXPECT_THROW(CodecKey key(Store()), RegistryError);
}

TEST_F(CodecKeyTest, DamagedRegistryOpensEmptyAndIsRepairedByWrites) {
    std::filesystem::create_directories(config_ / "halvora");
    WriteBytes(Store().File(), std::string("\0\0garbage", 9));
    CodecKey key(Store());  // the key is created in a fresh file
    EXPECT_FALSE(key.Store().IsDamaged());
    std::int32_t out = 0;
    EXPECT_FALSE(key.TryReadInteger("Bitrate", out));
    key.WriteInteger("Bitrate", 20000);
    EXPECT_EQ(key.ReadInteger("Bitrate"), 20000);
}

}  // namespace
}  // namespace halvora
