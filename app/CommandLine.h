#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/BroadcastHost.h"

namespace halvora {

struct CommandLine {
    bool headless = false;
    bool help = false;
    bool version = false;
    std::optional<std::filesystem::path> home;
    HostOptions host;
};

// Parses the program's options; throws std::invalid_argument with a message
// for the user when an option is unknown or its value is not valid.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();

}  // namespace halvora
