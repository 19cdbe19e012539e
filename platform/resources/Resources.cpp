#include "platform/resources/Resources.h"

#include <algorithm>
#include <cctype>

extern "C" {
extern const std::uint8_t halvora_resource_clientjar_begin[];
extern const std::uint8_t halvora_resource_clientjar_end[];
}

namespace halvora {
namespace {

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

struct Entry {
    std::string_view name;
    std::string_view type;
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

}  // namespace

std::optional<std::span<const std::uint8_t>> FindResource(std::string_view name, std::string_view type) {
    static const Entry kEntries[] = {
        {"CLIENTJAR", "EXEFILE", halvora_resource_clientjar_begin, halvora_resource_clientjar_end},
    };
    for (const Entry& e : kEntries) {
        if (SameName(e.name, name) && SameName(e.type, type)) {
            return std::span<const std::uint8_t>(e.begin, static_cast<std::size_t>(e.end - e.begin));
        }
    }
    return std::nullopt;
}

}  // namespace halvora
