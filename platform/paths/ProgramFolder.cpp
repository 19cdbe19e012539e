#include "platform/paths/ProgramFolder.h"

#include <cstdlib>
#include <mutex>
#include <optional>
#include <system_error>

namespace halvora {
namespace {
std::mutex g_mutex;
std::optional<std::filesystem::path> g_folder;
}  // namespace

std::filesystem::path ExecutableFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return std::filesystem::current_path();
    }
    return exe.parent_path();
}

std::filesystem::path ProgramFolder() {
    std::lock_guard guard(g_mutex);
    if (g_folder) {
        return *g_folder;
    }
    if (const char* home = std::getenv("HALVORA_HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::absolute(home);
    }
    return ExecutableFolder();
}

void SetProgramFolder(const std::filesystem::path& folder) {
    std::lock_guard guard(g_mutex);
    g_folder = std::filesystem::absolute(folder);
}

}  // namespace halvora
