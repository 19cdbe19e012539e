#pragma once

#include <filesystem>

namespace halvora::test {

// A fresh folder under the system's temporary folder, removed with everything
// in it when the object goes.
class ScopedTempFolder {
public:
    ScopedTempFolder();
    ~ScopedTempFolder();
    ScopedTempFolder(const ScopedTempFolder&) = delete;
    ScopedTempFolder& operator=(const ScopedTempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace halvora::test
