#include "platform/vcm/CodecManager.h"

#include "platform/registry/RegistryStore.h"

namespace halvora::vcm {
namespace {

std::string FourCCText(uint32_t code) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        text[static_cast<std::size_t>(i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
    }
    return text;
}

}  // namespace

std::string RegistrationName(uint32_t type, uint32_t handler) {
    return FourCCText(type) + "." + FourCCText(handler);
}

std::unique_ptr<Compressor> ICOpen(uint32_t type, uint32_t handler, uint32_t mode, std::string* why) {
    auto fail = [why](std::string reason) -> std::unique_ptr<Compressor> {
        if (why != nullptr) {
            *why = std::move(reason);
        }
        return nullptr;
    };
    const RegistryStore store;
    const std::string name = RegistrationName(type, handler);
    const auto driver_file = store.ReadString(kDriversKeyPath, name);
    if (!driver_file || driver_file->empty()) {
        return fail(name + " is not registered in " + store.File().string());
    }
    auto library = DriverLibrary::Load(*driver_file, why);
    if (!library) {
        return nullptr;
    }
    const DriverOpenParams params{.type = type, .handler = handler, .mode = mode};
    void* instance = reinterpret_cast<void*>(
        library->Send(nullptr, kDrvOpen, 0, reinterpret_cast<intptr_t>(&params)));
    if (instance == nullptr) {
        return fail(library->File().string() + " refused to open " + name);
    }
    return std::make_unique<Compressor>(std::move(library), instance);
}

bool ICIsRegistered(uint32_t type, uint32_t handler) {
    const auto driver_file = RegistryStore().ReadString(kDriversKeyPath, RegistrationName(type, handler));
    return driver_file && !driver_file->empty();
}

bool ICRemove(uint32_t type, uint32_t handler) {
    try {
        return RegistryStore().DeleteValue(kDriversKeyPath, RegistrationName(type, handler));
    } catch (const RegistryError&) {
        return false;
    }
}

bool ICInstall(uint32_t type, uint32_t handler, std::string_view driver_file) {
    try {
        RegistryStore().WriteString(kDriversKeyPath, RegistrationName(type, handler), driver_file);
        return true;
    } catch (const RegistryError&) {
        return false;
    }
}

}  // namespace halvora::vcm
