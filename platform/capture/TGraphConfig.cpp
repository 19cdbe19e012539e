#include "platform/capture/TGraphConfig.h"

namespace halvora {

void TGraphConfig::Clear() {
    VideoCaptureSource.clear();
    AudioCaptureSource.clear();
    VideoCompressorName.clear();
    AudioCompressorName.clear();
    VideoCompressorState.clear();
    WantPreview = false;
    WantBitmaps = false;
    WantDVAudio = false;
    WantCapture = false;
    WantAudio = false;
    UseTempFile = false;
    DoPreallocFile = false;
    WantAudioPreview = true;
    DVResolution = dvrFull;
    BitmapPixelFormat = pf24bit;
    VideoCaptureMode = 0;
    AudioCaptureMode = 0;
    CaptureFileName = "capture.avi";
    TempFileName = "captemp.avi";
    PreallocFileSize = 0;
}

}  // namespace halvora
