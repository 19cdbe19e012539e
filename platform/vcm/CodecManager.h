#pragma once

// The video compression manager: which driver compresses a given type and
// handler, and opening it. Registrations live in the per-user registry under
// HKEY_CURRENT_USER\Software\Halvora\Drivers32 as string values named
// "<type>.<handler>", e.g. "vidc.Dvxx"="divxx.so"; the value is the driver's
// bare file name, looked up in DriverSearchFolders().

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/vcm/Compressor.h"
#include "platform/vcm/DriverInterface.h"

namespace halvora::vcm {

inline constexpr std::string_view kDriversKeyPath = "Software\\Halvora\\Drivers32";

// "vidc.Dvxx" for kTypeVideo and MakeFourCC('D','v','x','x').
std::string RegistrationName(uint32_t type, uint32_t handler);

// Opens the driver registered for type/handler in the given mode. nullptr when
// nothing is registered, the driver cannot be found or loaded, or it refuses to
// open; the reason goes to *why when given (the program itself ignores it).
std::unique_ptr<Compressor> ICOpen(uint32_t type, uint32_t handler, uint32_t mode,
                                   std::string* why = nullptr);

// Whether a driver is registered for type/handler (the registry is readable and
// holds a non-empty string for it).
bool ICIsRegistered(uint32_t type, uint32_t handler);

// Removes the registration; false when there was none or the registry cannot be
// written.
bool ICRemove(uint32_t type, uint32_t handler);

// Registers driver_file (a bare file name) for type/handler, replacing any
// registration; false when the registry cannot be written.
bool ICInstall(uint32_t type, uint32_t handler, std::string_view driver_file);

}  // namespace halvora::vcm
