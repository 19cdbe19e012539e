#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/ScopedEnvironmentVariable.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora::test {

// What a program run by a test did.
struct ProgramResult {
    int exit_code = -1;   // -1: it did not exit normally
    std::string out;      // everything it wrote on standard output
    std::string err;      // everything it wrote on standard error
};

// The fennick and divxx.so of this build tree.
std::filesystem::path FennickExecutable();
std::filesystem::path BuiltDriverFolder();

// Runs the built fennick with XDG_CONFIG_HOME = config_home (so it writes
// config_home/halvora/user.reg) and waits for it.
ProgramResult RunFennick(const std::filesystem::path& config_home);

// A fresh world for a test that opens the codec: for its lifetime
// XDG_CONFIG_HOME is an empty temporary folder (so the per-user registry starts
// absent), HALVORA_HOME a temporary program folder and HALVORA_DRIVER_PATH the
// build's driver folder. Nothing is registered until the test runs fennick.
class CodecTestEnvironment {
public:
    CodecTestEnvironment();

    const std::filesystem::path& Root() const { return folder_.Path(); }
    std::filesystem::path ConfigHome() const { return folder_.Path() / "config"; }
    std::filesystem::path RegistryFile() const { return ConfigHome() / "halvora" / "user.reg"; }

    // fennick into this environment's registry.
    ProgramResult RunFennick() const;
    // Writes a 32-bit value of the codec key (as the Options dialog does).
    void SetCodecValue(std::string_view name, std::uint32_t value) const;

private:
    ScopedTempFolder folder_;
    ScopedEnvironmentVariable config_home_;
    ScopedEnvironmentVariable program_home_;
    ScopedEnvironmentVariable driver_path_;
};

}  // namespace halvora::test
