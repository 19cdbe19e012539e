#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/sound/IWaveSource.h"
#include "platform/sound/WaveFormat.h"
#include "platform/sound/WaveHeader.h"
#include "platform/sound/WaveInDevice.h"

namespace halvora {

// The wave input device that CWaveIn drives: the operations the program uses of
// the system's wave input (open with a format, queue buffers, start, reset, stop,
// close), on top of ALSA or of a synthetic source.

// Device ids.
// The wave mapper: ALSA's "default" PCM, which desktop systems route through
// PulseAudio or PipeWire. Every id >= 0 is served through the mapper as well.
inline constexpr int kWaveMapper = -1;
// A steady 440 Hz tone at about -12 dBFS, delivered in real time; used only when
// the operator asks for it (--test-tone), for demonstrations and tests.
inline constexpr int kWaveDeviceTestTone = -2;

// Makes a source for a format, or returns null when it cannot record it.
using WaveSourceFactory = std::function<std::unique_ptr<IWaveSource>(const WaveFormat&)>;

// Whether the device can record the format, without keeping it open.
bool WaveInQueryFormat(int device_id, const WaveFormat& format);

// Opens the device for recording in the format (waveInOpen with a callback
// function). Null, silently, when there is no such device or it cannot record
// the format.
std::unique_ptr<WaveInDevice> WaveInOpen(int device_id, const WaveFormat& format,
                                         WaveInDataProc proc);

// Extra devices for tests: the factory serves a new device id (below -100)
// until it is unregistered. Lets a test feed CWaveIn from a source it controls,
// or a tone paced faster than real time, without touching the program's ids.
int RegisterWaveSource(WaveSourceFactory factory);
void UnregisterWaveSource(int device_id);

// The synthetic tone behind kWaveDeviceTestTone: a sine of `frequency_hz` at
// `amplitude` (of full scale), for 16-bit PCM of any channel count and rate.
// Each Fill delivers one whole buffer once the sound in it would have been
// recorded: the n-th frame is ready at Start + n / rate × `pace` (pace 1 is real
// time, 0 delivers at once), against a steady clock so that it does not drift.
// A consumer that falls more than a few buffers behind loses that sound, as a
// device overruns.
struct ToneOptions {
    double frequency_hz = 440.0;
    double amplitude = 0.25;  // -12 dBFS
    double pace = 1.0;
};
std::unique_ptr<IWaveSource> MakeToneSource(const WaveFormat& format, const ToneOptions& options);

}  // namespace halvora
