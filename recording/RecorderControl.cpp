#include "recording/RecorderControl.h"

#include <chrono>
#include <memory>
#include <thread>

#include "common/CLog.h"
#include "common/LogText.h"
#include "media/MediaPump.h"
#include "recording/CVideo.h"

namespace halvora {

RecorderControl::RecorderControl(MediaPump& pump) : pump_(pump) {}

bool RecorderControl::StartRecord(const std::string& file_name) {
    bool opened = false;
    try {
        auto recorder = std::make_shared<CVideo>(file_name, CVideo::Mode::Write);
        opened = recorder->IsOpen();
        pump_.SetRecorder(std::move(recorder));
        pump_.Timer1Timer();
        pump_.RecordMedia = true;
        pump_.RecordHeaderPages = true;
        recording_ = true;
    } catch (const std::exception& e) {
        LogError(logtext::kLogStartRecord, e.what());
    }
    return opened;
}

void RecorderControl::StopRecord() {
    pump_.RecordMedia = false;
    pump_.RecordHeaderPages = false;
    recording_ = false;
    try {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pump_.ReleaseRecorder();  // closes the file once no producer holds it
    } catch (const std::exception& e) {
        LogError(logtext::kLogStopRecord, e.what());
    }
}

}  // namespace halvora
