#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace halvora {
namespace {

TEST(CommandLine, HeadlessWithHomeAndPort) {
    const auto cl = ParseCommandLine({"--headless", "--home", "/tmp/x", "--port", "8080"});
    EXPECT_TRUE(cl.headless);
    ASSERT_TRUE(cl.home.has_value());
    EXPECT_EQ(*cl.home, "/tmp/x");
    ASSERT_TRUE(cl.host.port.has_value());
    EXPECT_EQ(*cl.host.port, 8080);
}

TEST(CommandLine, WithoutPortTheRegistryDecides) {
    const auto cl = ParseCommandLine({"--headless"});
    EXPECT_FALSE(cl.host.port.has_value());
    EXPECT_FALSE(cl.home.has_value());
}

TEST(CommandLine, PortsAtTheEdgesOfTheRangeAreTaken) {
    EXPECT_EQ(*ParseCommandLine({"--port", "0"}).host.port, 0);
    EXPECT_EQ(*ParseCommandLine({"--port", "65535"}).host.port, 65535);
}

class CommandLineRefuses : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CommandLineRefuses, WithAMessage) {
    try {
        ParseCommandLine(GetParam());
        ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& e) {
        EXPECT_FALSE(std::string(e.what()).empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineRefuses,
    ::testing::Values(std::vector<std::string>{"--port", "65536"}, std::vector<std::string>{"--port", "-1"},
                      std::vector<std::string>{"--port", "80x"}, std::vector<std::string>{"--port", ""},
                      std::vector<std::string>{"--port"}, std::vector<std::string>{"--home"},
                      std::vector<std::string>{"--camera", "5"}, std::vector<std::string>{"--bogus"},
                      std::vector<std::string>{"--headless", "extra"}));

}  // namespace
}  // namespace halvora
