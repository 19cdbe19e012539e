#pragma once

#include <cstdint>
#include <string_view>

#include "platform/registry/RegistryStore.h"

namespace halvora {

// The key shared by the program, the codec driver and fennick: the codec's
// encoding parameters ("Bitrate", "Max Keyframe Interval"), the server port
// ("PortNumber") and the last file sent ("FileSend").
inline constexpr std::string_view kCodecKeyPath = "Software\\DivXNetworks\\Divx4Windows";

// HKEY_CURRENT_USER\Software\DivXNetworks\Divx4Windows, opened so that it is
// created when missing. Holds no values: each read and write goes to the store.
class CodecKey {
public:
    // Creates the key if missing; throws RegistryError if it cannot.
    explicit CodecKey(RegistryStore store = RegistryStore());

    // Throws RegistryError when the value is missing or is not a dword. The
    // dword's 32 bits are taken as a signed integer, as the platform's
    // integer reads do.
    std::int32_t ReadInteger(std::string_view name) const;
    // False, out untouched, when ReadInteger would throw.
    bool TryReadInteger(std::string_view name, std::int32_t& out) const;

    // Throw RegistryError when the key cannot be written.
    void WriteInteger(std::string_view name, std::int32_t value);
    void WriteString(std::string_view name, std::string_view value);

    const RegistryStore& Store() const;

private:
    RegistryStore store_;
};

}  // namespace halvora
