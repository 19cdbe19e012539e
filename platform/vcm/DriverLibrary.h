#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/vcm/DriverInterface.h"

namespace halvora::vcm {

// The folders searched for a driver file, in order. HALVORA_DRIVER_PATH (one
// folder), when set, is the only one: a test or a fixture writer that names a
// folder must not silently pick up another build's driver. Otherwise drivers/
// beside the executable (the build tree and a portable install), then the
// installed library folder. The program folder is never searched: --home may
// point it anywhere.
std::vector<std::filesystem::path> DriverSearchFolders();

// A driver shared library, entered through its one exported procedure. Once
// loaded it stays mapped for the rest of the run (RTLD_NODELETE): the libraries
// a driver pulls in (FFmpeg's) keep process-wide state, and the Options
// dialog's close-and-reopen would otherwise unload and reload them each time.
class DriverLibrary {
public:
    // Finds file_name (a bare file name) in DriverSearchFolders() and loads it.
    // nullptr, with the reason in *why when given, if it is not found, cannot be
    // loaded or exports no driver procedure.
    static std::shared_ptr<DriverLibrary> Load(std::string_view file_name,
                                               std::string* why = nullptr);

    ~DriverLibrary();
    DriverLibrary(const DriverLibrary&) = delete;
    DriverLibrary& operator=(const DriverLibrary&) = delete;

    intptr_t Send(void* instance, uint32_t message, intptr_t p1, intptr_t p2) const {
        return proc_(instance, message, p1, p2);
    }
    const std::filesystem::path& File() const { return file_; }

private:
    DriverLibrary(void* handle, DriverProc proc, std::filesystem::path file);

    void* handle_;
    DriverProc proc_;
    std::filesystem::path file_;
};

}  // namespace halvora::vcm
