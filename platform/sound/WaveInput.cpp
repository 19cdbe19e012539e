#include "platform/sound/WaveInput.h"

#include <map>
#include <mutex>

#include "platform/sound/AlsaWaveSource.h"

namespace halvora {
namespace {

// Test devices, by id.
std::mutex g_sources_mutex;
std::map<int, WaveSourceFactory> g_sources;
int g_next_source_id = -101;

std::unique_ptr<IWaveSource> MakeSource(int device_id, const WaveFormat& format) {
    if (device_id == kWaveDeviceTestTone) return MakeToneSource(format, ToneOptions{});
    if (device_id < kWaveDeviceTestTone) {
        WaveSourceFactory factory;
        {
            std::lock_guard lock(g_sources_mutex);
            const auto it = g_sources.find(device_id);
            if (it == g_sources.end()) return nullptr;
            factory = it->second;
        }
        return factory(format);
    }
    // There is one input on this platform, the mapper; any other id asks for a
    // device served through it.
    return AlsaWaveSource::Open(AlsaWaveSource::kDefaultPcm, format);
}

}  // namespace

bool WaveInQueryFormat(int device_id, const WaveFormat& format) {
    return MakeSource(device_id, format) != nullptr;
}

std::unique_ptr<WaveInDevice> WaveInOpen(int device_id, const WaveFormat& format,
                                         WaveInDataProc proc) {
    auto source = MakeSource(device_id, format);
    if (!source) return nullptr;
    return std::make_unique<WaveInDevice>(std::move(source), std::move(proc));
}

int RegisterWaveSource(WaveSourceFactory factory) {
    std::lock_guard lock(g_sources_mutex);
    const int id = g_next_source_id--;
    g_sources.emplace(id, std::move(factory));
    return id;
}

void UnregisterWaveSource(int device_id) {
    std::lock_guard lock(g_sources_mutex);
    g_sources.erase(device_id);
}

}  // namespace halvora
