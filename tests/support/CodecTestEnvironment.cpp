#include "tests/support/CodecTestEnvironment.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"

extern char** environ;

namespace halvora::test {
namespace {

std::string ReadAll(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Creates the folder and returns its path as text (for the variables below,
// which must hold their text before the folder members exist).
std::string Prepared(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    return folder.string();
}

}  // namespace

std::filesystem::path FennickExecutable() { return HALVORA_TEST_FENNICK; }
std::filesystem::path BuiltDriverFolder() { return HALVORA_TEST_DRIVER_DIR; }

ProgramResult RunFennick(const std::filesystem::path& config_home) {
    const ScopedTempFolder capture;
    const auto out_file = capture.Path() / "stdout";
    const auto err_file = capture.Path() / "stderr";

    // The child's environment: ours with XDG_CONFIG_HOME replaced.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string_view(*entry).rfind("XDG_CONFIG_HOME=", 0) != 0) {
            variables.emplace_back(*entry);
        }
    }
    variables.push_back("XDG_CONFIG_HOME=" + config_home.string());
    std::vector<char*> envp;
    for (auto& variable : variables) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string program = FennickExecutable().string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("cannot wait for " + program);
        }
    }
    ProgramResult result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadAll(out_file);
    result.err = ReadAll(err_file);
    return result;
}

CodecTestEnvironment::CodecTestEnvironment()
    : config_home_("XDG_CONFIG_HOME", Prepared(folder_.Path() / "config").c_str()),
      program_home_("HALVORA_HOME", Prepared(folder_.Path() / "home").c_str()),
      driver_path_("HALVORA_DRIVER_PATH", BuiltDriverFolder().c_str()) {}

ProgramResult CodecTestEnvironment::RunFennick() const { return test::RunFennick(ConfigHome()); }

void CodecTestEnvironment::SetCodecValue(std::string_view name, std::uint32_t value) const {
    RegistryStore(RegistryFile()).WriteDWord(kCodecKeyPath, name, value);
}

}  // namespace halvora::test
