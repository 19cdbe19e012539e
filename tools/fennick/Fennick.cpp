// fennick: prepares a user's registry for halvora. It registers the MPEG-4
// driver as the video compressor vidc/Dvxx and writes the codec key's default
// bitrate, key-frame interval and server port. No arguments, no output; safe to
// run again (each run re-registers the driver and resets the three values).

#include <cstdint>
#include <exception>
#include <iostream>

#include "platform/registry/CodecKey.h"
#include "platform/registry/RegistryStore.h"
#include "platform/vcm/CodecManager.h"
#include "platform/vcm/DriverInterface.h"

namespace {

constexpr std::uint32_t kHandlerDvxx = halvora::vcm::MakeFourCC('D', 'v', 'x', 'x');
constexpr const char* kDriverFile = "divxx.so";

int Run() {
    using namespace halvora;
    const RegistryStore store;
    if (store.IsDamaged()) {
        // The writes below replace it (the store keeps the old file aside).
        std::cerr << "fennick: " << store.File().string() << " is damaged; writing a new one\n";
    }

    // Whether removal and installation took is not examined: a registration that
    // could not be removed stays, and one that could not be made leaves halvora
    // starting without a server. A registry that cannot be written at all
    // surfaces at the first write below.
    if (vcm::ICIsRegistered(vcm::kTypeVideo, kHandlerDvxx)) {
        vcm::ICRemove(vcm::kTypeVideo, kHandlerDvxx);
    }
    if (!vcm::ICIsRegistered(vcm::kTypeVideo, kHandlerDvxx)) {
        vcm::ICInstall(vcm::kTypeVideo, kHandlerDvxx, kDriverFile);
    }

    CodecKey key(store);  // creates the key when missing
    key.WriteInteger("Bitrate", 20000);
    key.WriteInteger("Max Keyframe Interval", 10);
    key.WriteInteger("PortNumber", 80);
    return 0;
}

}  // namespace

int main() {
    try {
        return Run();
    } catch (const std::exception& e) {
        std::cerr << "fennick: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "fennick: unexpected failure\n";
    }
    return 1;
}
