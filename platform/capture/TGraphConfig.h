#pragma once

#include <cstdint>
#include <string>

namespace halvora {

// The capture component's record of its capture graph: which devices it uses and
// how. The capture graph dialog edits one; a component fills one (SaveGraph) and
// rebuilds itself from one (RestoreGraph). A plain value owned by whoever holds
// it; used on the main thread only.
struct TGraphConfig {
    // Digital-video decoding resolution; the dialog lists them in this order.
    enum DVResolutionKind : int { dvrDontWorry = 0, dvrFull, dvrHalf, dvrQuarter, dvrDC };
    // Pixel format of grabbed bitmaps; the dialog lists them in this order.
    enum PixelFormatKind : int {
        pfDevice = 0, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom
    };

    TGraphConfig() { Clear(); }

    // Back to the empty record: every switch off except the audio preview, full
    // DV resolution, 24-bit bitmaps, no devices, default modes and file names.
    void Clear();

    // Devices, by the names the device list gives them.
    std::string VideoCaptureSource;
    std::string AudioCaptureSource;
    std::string VideoCompressorName;
    std::string AudioCompressorName;
    // The video compressor's saved state (bytes kept as text); empty for none.
    std::string VideoCompressorState;

    bool WantPreview = false;
    bool WantBitmaps = false;
    bool WantDVAudio = false;
    bool WantCapture = false;
    bool WantAudio = false;
    bool UseTempFile = false;
    bool DoPreallocFile = false;
    bool WantAudioPreview = true;

    int DVResolution = dvrFull;        // a DVResolutionKind
    int BitmapPixelFormat = pf24bit;   // a PixelFormatKind

    // Capture modes: which of the device's offered modes to use; 0 = the device's
    // own choice.
    int VideoCaptureMode = 0;
    int AudioCaptureMode = 0;

    // Capture to file (never used by this program, kept so the record is whole).
    std::string CaptureFileName;
    std::string TempFileName;
    std::uint32_t PreallocFileSize = 0;  // bytes

    bool operator==(const TGraphConfig&) const = default;
};

}  // namespace halvora
