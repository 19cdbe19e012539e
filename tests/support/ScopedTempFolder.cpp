#include "tests/support/ScopedTempFolder.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <system_error>

namespace halvora::test {

ScopedTempFolder::ScopedTempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvora-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder from " + pattern);
    }
    path_ = pattern;
}

ScopedTempFolder::~ScopedTempFolder() {
    std::error_code ec;
    // A test may have left a read-only folder behind: make it removable first.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
    }
    std::filesystem::remove_all(path_, ec);
}

}  // namespace halvora::test
