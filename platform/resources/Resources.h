#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace halvora {

// Looks up a resource embedded in the executable by name and type, compared
// without regard to letter case (as the program asks for "clientjar" of type
// "EXEFILE"). The bytes live as long as the program; nothing is copied.
std::optional<std::span<const std::uint8_t>> FindResource(std::string_view name, std::string_view type);

}  // namespace halvora
