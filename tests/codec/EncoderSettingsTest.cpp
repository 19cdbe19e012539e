// How the driver turns the codec key's words into rate-control settings. The
// Options dialog stores whatever the operator typed (times 1000), so zero,
// negative and huge words do reach the driver.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "drivers/divxx/EncoderSettings.h"
#include "tests/support/CodecTestEnvironment.h"

namespace halvora::divxx {
namespace {

struct SettingsCase {
    const char* name;
    std::optional<std::uint32_t> bitrate_word;
    std::optional<std::uint32_t> interval_word;
    std::int64_t bitrate;
    int key_interval;
};

void PrintTo(const SettingsCase& c, std::ostream* os) { *os << c.name; }

class EncoderSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(EncoderSettingsTest, FromValues) {
    const SettingsCase& c = GetParam();
    const EncoderSettings s = EncoderSettings::FromValues(c.bitrate_word ? &*c.bitrate_word : nullptr,
                                                          c.interval_word ? &*c.interval_word : nullptr);
    EXPECT_EQ(s.bitrate, c.bitrate);
    EXPECT_EQ(s.key_interval, c.key_interval);
}

INSTANTIATE_TEST_SUITE_P(
    Words, EncoderSettingsTest,
    ::testing::Values(SettingsCase{"Missing", std::nullopt, std::nullopt, 20000, 10},
                      SettingsCase{"FennickDefaults", 20000u, 10u, 20000, 10},
                      SettingsCase{"OptionsTopOfRange", 800000u, 25u, 800000, 25},
                      SettingsCase{"Zero", 0u, 0u, 20000, 10},
                      SettingsCase{"NegativeTyped", static_cast<std::uint32_t>(-5000), 0xFFFFFFFFu, 20000, 10},
                      SettingsCase{"BelowMinimum", 500u, 1u, 1000, 1},
                      SettingsCase{"AboveMaximum", 2'000'000'000u, 5000u, 20'000'000, 1000}),
    [](const ::testing::TestParamInfo<SettingsCase>& info) { return std::string(info.param.name); });

TEST(EncoderSettingsRegistry, ReadsTheCodecKeyOrFallsBack) {
    test::CodecTestEnvironment env;
    EXPECT_EQ(EncoderSettings::FromRegistry().bitrate, 20000) << "no registry file at all";
    env.SetCodecValue("Bitrate", 123000);
    env.SetCodecValue("Max Keyframe Interval", 7);
    const EncoderSettings s = EncoderSettings::FromRegistry();
    EXPECT_EQ(s.bitrate, 123000);
    EXPECT_EQ(s.key_interval, 7);
}

}  // namespace
}  // namespace halvora::divxx
