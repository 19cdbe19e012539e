#include "platform/registry/CodecKey.h"

#include <utility>

#include "platform/settings/WholeFile.h"

namespace halvora {

CodecKey::CodecKey(RegistryStore store) : store_(std::move(store)) {
    store_.CreateKey(kCodecKeyPath);
}

std::int32_t CodecKey::ReadInteger(std::string_view name) const {
    if (const auto value = store_.ReadDWord(kCodecKeyPath, name)) {
        return static_cast<std::int32_t>(*value);
    }
    const std::string what = std::string("value \"") + std::string(name) + "\" of key " + std::string(kCodecKeyPath);
    if (store_.ReadString(kCodecKeyPath, name)) {
        throw RegistryError(FileErrorText(store_.File(), what + " is not a 32-bit number", {}));
    }
    throw RegistryError(FileErrorText(store_.File(), what + " is missing", {}));
}

bool CodecKey::TryReadInteger(std::string_view name, std::int32_t& out) const {
    const auto value = store_.ReadDWord(kCodecKeyPath, name);
    if (!value) {
        return false;
    }
    out = static_cast<std::int32_t>(*value);
    return true;
}

void CodecKey::WriteInteger(std::string_view name, std::int32_t value) {
    store_.WriteDWord(kCodecKeyPath, name, static_cast<std::uint32_t>(value));
}

void CodecKey::WriteString(std::string_view name, std::string_view value) {
    store_.WriteString(kCodecKeyPath, name, value);
}

const RegistryStore& CodecKey::Store() const { return store_; }

}  // namespace halvora
