#include "platform/vcm/DriverLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

#include "platform/paths/ProgramFolder.h"

#ifndef HALVORA_DRIVER_INSTALL_DIR
#define HALVORA_DRIVER_INSTALL_DIR "/usr/local/lib/halvora"
#endif

namespace halvora::vcm {

std::vector<std::filesystem::path> DriverSearchFolders() {
    if (const char* folder = std::getenv("HALVORA_DRIVER_PATH"); folder != nullptr && *folder != '\0') {
        return {std::filesystem::path(folder)};
    }
    return {ExecutableFolder() / "drivers", std::filesystem::path(HALVORA_DRIVER_INSTALL_DIR)};
}

std::shared_ptr<DriverLibrary> DriverLibrary::Load(std::string_view file_name, std::string* why) {
    auto fail = [why](std::string reason) -> std::shared_ptr<DriverLibrary> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    const std::filesystem::path name(file_name);
    if (file_name.empty() || name.has_parent_path() || name.filename() != name) {
        return fail("driver file name \"" + std::string(file_name) + "\" is not a bare file name");
    }
    for (const auto& folder : DriverSearchFolders()) {
        const auto candidate = folder / name;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) {
            continue;
        }
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (handle == nullptr) {
            const char* error = dlerror();
            return fail(candidate.string() + ": " + (error != nullptr ? error : "cannot be loaded"));
        }
        auto proc = reinterpret_cast<DriverProc>(dlsym(handle, kDriverProcName));
        if (proc == nullptr) {
            dlclose(handle);
            return fail(candidate.string() + ": exports no " + kDriverProcName);
        }
        return std::shared_ptr<DriverLibrary>(new DriverLibrary(handle, proc, candidate));
    }
    std::string searched;
    for (const auto& folder : DriverSearchFolders()) {
        searched += (searched.empty() ? "" : ", ") + folder.string();
    }
    return fail(std::string(file_name) + " not found in " + searched);
}

DriverLibrary::DriverLibrary(void* handle, DriverProc proc, std::filesystem::path file)
    : handle_(handle), proc_(proc), file_(std::move(file)) {}

DriverLibrary::~DriverLibrary() {
    // Drops our reference; RTLD_NODELETE keeps the code mapped.
    dlclose(handle_);
}

}  // namespace halvora::vcm
