// The codec manager: registrations in the registry, the driver folder, and
// every way ICOpen can come back empty.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "platform/paths/ProgramFolder.h"
#include "platform/registry/RegistryStore.h"
#include "platform/vcm/CodecManager.h"
#include "tests/support/CodecTestEnvironment.h"
#include "tests/support/ScopedEnvironmentVariable.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora::vcm {
namespace {

using test::CodecTestEnvironment;

constexpr std::uint32_t kDvxx = MakeFourCC('D', 'v', 'x', 'x');

// The shared library a symbol comes from (here: libavutil, a library that is no driver).
std::filesystem::path LibraryHolding(void* symbol) {
    Dl_info info{};
    if (dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) {
        throw std::runtime_error("dladdr found no library");
    }
    return info.dli_fname;
}

TEST(CodecManager, FourCCPutsTheFirstCharacterInTheLowestByte) {
    EXPECT_EQ(kTypeVideo, 0x63646976u);  // 'c' 'd' 'i' 'v' from the top byte down
    EXPECT_EQ(RegistrationName(kTypeVideo, kDvxx), "vidc.Dvxx");
}

TEST(CodecManager, InstallRemoveRoundTripTouchesOnlyItsOwnRegistration) {
    CodecTestEnvironment env;
    const std::uint32_t other = MakeFourCC('X', 'V', 'I', 'D');
    EXPECT_FALSE(ICIsRegistered(kTypeVideo, kDvxx));
    EXPECT_FALSE(ICRemove(kTypeVideo, kDvxx)) << "nothing to remove";

    ASSERT_TRUE(ICInstall(kTypeVideo, kDvxx, "divxx.so"));
    ASSERT_TRUE(ICInstall(kTypeVideo, other, "xvid.so"));
    EXPECT_TRUE(ICIsRegistered(kTypeVideo, kDvxx));
    EXPECT_EQ(RegistryStore(env.RegistryFile()).ReadString(kDriversKeyPath, "vidc.Dvxx"), "divxx.so");

    EXPECT_TRUE(ICRemove(kTypeVideo, kDvxx));
    EXPECT_FALSE(ICIsRegistered(kTypeVideo, kDvxx));
    EXPECT_TRUE(ICIsRegistered(kTypeVideo, other));
}

TEST(CodecManager, InstallReportsARegistryThatCannotBeWritten) {
    CodecTestEnvironment env;
    std::ofstream(env.ConfigHome() / "halvora") << "a file where the registry folder belongs";
    EXPECT_FALSE(ICInstall(kTypeVideo, kDvxx, "divxx.so"));
    EXPECT_FALSE(ICIsRegistered(kTypeVideo, kDvxx));
}

TEST(CodecManager, DriverFolderIsTheVariableAloneWhenSet) {
    {
        const test::ScopedEnvironmentVariable unset("HALVORA_DRIVER_PATH", nullptr);
        const auto folders = DriverSearchFolders();
        ASSERT_EQ(folders.size(), 2u);
        EXPECT_EQ(folders[0], ExecutableFolder() / "drivers");
        EXPECT_TRUE(folders[1].is_absolute());
        EXPECT_EQ(folders[1].filename(), "halvora");
    }
    const test::ScopedEnvironmentVariable set("HALVORA_DRIVER_PATH", "/opt/some/drivers");
    EXPECT_EQ(DriverSearchFolders(), std::vector<std::filesystem::path>{"/opt/some/drivers"});
}

// Each way the open fails, with the reason the manager gives.
struct OpenFailure {
    const char* name;
    const char* registered_type;  // the registration written before ICOpen
    const char* driver_file;      // nullptr: nothing registered
    const char* reason;           // expected in the reason text
};

void PrintTo(const OpenFailure& c, std::ostream* os) { *os << c.name; }

class CodecManagerOpenFailure : public ::testing::TestWithParam<OpenFailure> {
protected:
    CodecTestEnvironment env_;
    test::ScopedTempFolder drivers_;
};

TEST_P(CodecManagerOpenFailure, ReturnsNullWithAReason) {
    const OpenFailure& c = GetParam();
    const test::ScopedEnvironmentVariable folder("HALVORA_DRIVER_PATH", drivers_.Path().c_str());
    // The folder's contents: a real driver, a file that is no library, a
    // library that is no driver.
    std::filesystem::copy_file(std::filesystem::path(HALVORA_TEST_FAKE_DRIVER_DIR) / "fakecodec.so",
                               drivers_.Path() / "fakecodec.so");
    std::ofstream(drivers_.Path() / "text.so") << "not an ELF file";
    std::filesystem::copy_file(LibraryHolding(reinterpret_cast<void*>(&av_log)), drivers_.Path() / "notadriver.so");

    if (c.driver_file != nullptr) {
        RegistryStore(env_.RegistryFile())
            .WriteString(kDriversKeyPath, std::string(c.registered_type) + ".Dvxx", c.driver_file);
    }
    const std::uint32_t type = MakeFourCC(c.registered_type[0], c.registered_type[1], c.registered_type[2],
                                          c.registered_type[3]);
    std::string why;
    EXPECT_EQ(ICOpen(type, kDvxx, kModeCompress, &why), nullptr);
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CodecManagerOpenFailure,
    ::testing::Values(OpenFailure{"NotRegistered", "vidc", nullptr, "not registered"},
                      OpenFailure{"EmptyRegistration", "vidc", "", "not registered"},
                      OpenFailure{"PathInsteadOfName", "vidc", "../fakecodec.so", "not a bare file name"},
                      OpenFailure{"FileMissing", "vidc", "missing.so", "not found"},
                      OpenFailure{"NotALibrary", "vidc", "text.so", "text.so"},
                      OpenFailure{"NoDriverProcedure", "vidc", "notadriver.so", "exports no HalvoraDriverProc"},
                      OpenFailure{"DriverRefusesTheType", "vids", "fakecodec.so", "refused to open"}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.name); });

TEST(CodecManagerOpen, OpensTheRegisteredDriverFromTheFolder) {
    CodecTestEnvironment env;
    const test::ScopedEnvironmentVariable folder("HALVORA_DRIVER_PATH", HALVORA_TEST_FAKE_DRIVER_DIR);
    ASSERT_TRUE(ICInstall(kTypeVideo, kDvxx, "fakecodec.so"));
    std::string why;
    auto compressor = ICOpen(kTypeVideo, kDvxx, kModeCompress, &why);
    ASSERT_NE(compressor, nullptr) << why;
    // Two opens are two independent instances.
    auto second = ICOpen(kTypeVideo, kDvxx, kModeCompress);
    ASSERT_NE(second, nullptr);
    compressor.reset();
    BitmapInfoHeader in;
    EXPECT_EQ(second->CompressGetFormatSize(in), 48);
}

}  // namespace
}  // namespace halvora::vcm
