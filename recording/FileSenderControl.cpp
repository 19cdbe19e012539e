#include "recording/FileSenderControl.h"

#include <filesystem>
#include <memory>

#include "common/CLog.h"
#include "common/LogText.h"
#include "media/MediaPump.h"
#include "platform/registry/CodecKey.h"
#include "recording/CVideo.h"

namespace halvora {

FileSenderControl::FileSenderControl(MediaPump& pump, Timers timers) : pump_(pump), timers_(std::move(timers)) {}

std::string FileSenderControl::MissingFileMessage(const std::string& file_name) {
    return "The file " + file_name + " does not exist.";
}

FileSenderControl::StartResult FileSenderControl::StartSend(const std::string& file_name) {
    if (file_name.empty()) {
        return StartResult::EmptyName;
    }
    std::error_code ec;
    if (!std::filesystem::exists(file_name, ec)) {
        return StartResult::Missing;
    }
    pump_.ResetFilePlayer();
    pump_.LiveVideo = 0;
    pump_.LiveAudio = false;
    pump_.SetFilePlayer(std::make_unique<CVideo>(file_name, CVideo::Mode::Read));
    if (timers_.set_file_timer) {
        timers_.set_file_timer(true);
    }
    if (timers_.set_header_timer) {
        timers_.set_header_timer(false);
    }
    sending_ = true;
    try {
        CodecKey key;
        key.WriteString("FileSend", std::filesystem::absolute(file_name).string());
    } catch (const std::exception& e) {
        LogError(logtext::kLogFileSendRegistry, e.what());
    }
    return StartResult::Started;
}

void FileSenderControl::StopSend() {
    if (timers_.set_file_timer) {
        timers_.set_file_timer(false);
    }
    pump_.ResetFilePlayer();
    pump_.LiveVideo = 1;
    pump_.LiveAudio = true;
    sending_ = false;
}

}  // namespace halvora
