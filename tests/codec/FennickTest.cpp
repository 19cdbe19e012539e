// fennick, run as the built program against a fresh registry.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"
#include "platform/vcm/CodecManager.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora {
namespace {

using test::CodecTestEnvironment;

std::string ReadFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

// What a completed run must leave: the driver registered and the three values.
void ExpectPrepared(const RegistryStore& store) {
    EXPECT_EQ(store.ReadString(vcm::kDriversKeyPath, "vidc.Dvxx"), "divxx.so");
    EXPECT_EQ(store.ReadDWord(kCodecKeyPath, "Bitrate"), 20000u);
    EXPECT_EQ(store.ReadDWord(kCodecKeyPath, "Max Keyframe Interval"), 10u);
    EXPECT_EQ(store.ReadDWord(kCodecKeyPath, "PortNumber"), 80u);
}

TEST(Fennick, PreparesAnEmptyRegistrySilently) {
    CodecTestEnvironment env;
    const auto result = env.RunFennick();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    ExpectPrepared(RegistryStore(env.RegistryFile()));
}

TEST(Fennick, SecondRunLeavesTheSameFile) {
    CodecTestEnvironment env;
    ASSERT_EQ(env.RunFennick().exit_code, 0);
    const std::string once = ReadFile(env.RegistryFile());
    ASSERT_EQ(env.RunFennick().exit_code, 0);
    EXPECT_EQ(ReadFile(env.RegistryFile()), once);
}

// An earlier registration and the operator's own settings are replaced; what
// fennick does not own stays.
TEST(Fennick, ResetsItsValuesAndReRegistersButKeepsTheRest) {
    CodecTestEnvironment env;
    RegistryStore store(env.RegistryFile());
    store.WriteString(vcm::kDriversKeyPath, "vidc.Dvxx", "olddivx.so");
    store.WriteString(vcm::kDriversKeyPath, "vidc.XVID", "xvid.so");
    store.WriteDWord(kCodecKeyPath, "Bitrate", 300000);
    store.WriteDWord(kCodecKeyPath, "PortNumber", 8080);
    store.WriteString(kCodecKeyPath, "FileSend", "/home/ann/show.str");
    // A string where a number belongs is replaced by the number.
    store.WriteString(kCodecKeyPath, "Max Keyframe Interval", "ten");

    const auto result = env.RunFennick();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    ExpectPrepared(store);
    EXPECT_EQ(store.ReadString(vcm::kDriversKeyPath, "vidc.XVID"), "xvid.so");
    EXPECT_EQ(store.ReadString(kCodecKeyPath, "FileSend"), "/home/ann/show.str");
}

TEST(Fennick, DamagedRegistryIsReportedAndRewritten) {
    CodecTestEnvironment env;
    WriteFile(env.RegistryFile(), std::string("\x00\x01garbage\xff\xfe", 11));
    ASSERT_TRUE(RegistryStore(env.RegistryFile()).IsDamaged());

    const auto result = env.RunFennick();
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("damaged"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(env.RegistryFile().string()), std::string::npos) << result.err;
    const RegistryStore store(env.RegistryFile());
    EXPECT_FALSE(store.IsDamaged());
    ExpectPrepared(store);
}

// Ways to make the registry impossible to write.
struct UnwritableCase {
    const char* name;
    bool needs_permissions;  // root writes anywhere: skipped when run as root
    void (*prepare)(const std::filesystem::path& config_home);
};

void PrintTo(const UnwritableCase& c, std::ostream* os) { *os << c.name; }

class FennickUnwritable : public ::testing::TestWithParam<UnwritableCase> {};

TEST_P(FennickUnwritable, ExitsOneWithOneLineNamingTheFile) {
    if (GetParam().needs_permissions && geteuid() == 0) {
        GTEST_SKIP() << "root ignores folder permissions";
    }
    const test::ScopedTempFolder root;
    const auto config_home = root.Path() / "config";
    std::filesystem::create_directories(config_home);
    GetParam().prepare(config_home);

    const auto result = test::RunFennick(config_home);
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find((config_home / "halvora" / "user.reg").string()), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, FennickUnwritable,
    ::testing::Values(
        UnwritableCase{"RegistryFolderIsAFile", false,
                       [](const std::filesystem::path& home) { WriteFile(home / "halvora", "not a folder"); }},
        UnwritableCase{"RegistryFolderIsReadOnly", true,
                       [](const std::filesystem::path& home) {
                           std::filesystem::create_directories(home / "halvora");
                           std::filesystem::permissions(home / "halvora", std::filesystem::perms::owner_read |
                                                                              std::filesystem::perms::owner_exec);
                       }}),
    [](const ::testing::TestParamInfo<UnwritableCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace halvora
