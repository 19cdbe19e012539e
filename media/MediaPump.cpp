#include "media/MediaPump.h"

#include <chrono>
#include <thread>

#include "common/CLog.h"
#include "common/LogText.h"
#include "common/PacketHeader.h"
#include "media/COggEncoder.h"
#include "recording/CVideo.h"
#include "server/TMyServerSendThread.h"

namespace halvora {

MediaPump::MediaPump(COggEncoder& encoder, ConnectionsFn connections, WakeEvent* media_wake)
    : encoder_(encoder), connections_(std::move(connections)), media_wake_(media_wake) {}

MediaPump::~MediaPump() = default;

void MediaPump::SetRecorder(std::shared_ptr<CVideo> recorder) {
    std::lock_guard guard(recorder_mutex_);
    recorder_ = std::move(recorder);
}

std::shared_ptr<CVideo> MediaPump::ReleaseRecorder() {
    std::shared_ptr<CVideo> released;
    {
        std::lock_guard guard(recorder_mutex_);
        released.swap(recorder_);
    }
    // A producer that took the recorder before the swap may still be writing;
    // the file is complete only once it is done.
    while (released && released.use_count() > 1) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return released;
}

bool MediaPump::HasRecorder() const {
    std::lock_guard guard(recorder_mutex_);
    return recorder_ != nullptr;
}

std::shared_ptr<CVideo> MediaPump::Recorder() const {
    std::lock_guard guard(recorder_mutex_);
    return recorder_;
}

void MediaPump::SetFilePlayer(std::unique_ptr<CVideo> player) { file_player_ = std::move(player); }

void MediaPump::ResetFilePlayer() { file_player_.reset(); }

void MediaPump::Record(const std::uint8_t* bytes, std::uint32_t length, std::uint8_t key_flag, int kind) {
    if (std::shared_ptr<CVideo> recorder = Recorder()) {
        recorder->WriteRecord(length, bytes, key_flag, kind);
    }
}

void MediaPump::DistributeToViewers(const std::uint8_t* bytes, std::uint32_t length, std::uint8_t key_flag,
                                    int kind, std::string_view failure_text) {
    const auto wake = media_wake_ != nullptr ? CFrameFIFO::Wake::Deferred : CFrameFIFO::Wake::Now;
    bool queued = false;
    for (const auto& connection : connections_()) {
        try {
            if (!connection || !connection->Socket().Connected() ||
                connection->GetCommandCode() != cmdAudioVideo) {
                continue;
            }
            connection->Queue.PutFrame(bytes, length, key_flag, kind, wake);
            queued = true;
        } catch (const std::exception& e) {
            LogError(failure_text, e.what());
        }
    }
    if (queued && media_wake_ != nullptr) {
        media_wake_->NotifyAll();
    }
}

void MediaPump::VideoPath(const VideoPayload& payload) {
    const auto size = static_cast<std::uint32_t>(payload.bytes.size());
    if (RecordMedia) {
        Record(payload.bytes.data(), size, payload.key_flag, pkVideo);
    }
    if (LiveVideo) {
        DistributeToViewers(payload.bytes.data(), size, payload.key_flag, pkVideo, logtext::kLogVideoQueue);
    }
}

int MediaPump::MyWaveInWorker(const std::uint8_t* bytes, std::uint32_t count, std::uintptr_t) {
    if (!Visible) {
        return 0;
    }
    try {
        bool have_pages = false;
        {
            std::lock_guard guard(encoder_);
            encoder_.Encode(bytes, count);
            have_pages = encoder_.TakePages(true, audio_pages_);
        }
        if (!have_pages || audio_pages_.empty()) {
            return 2;
        }
        const auto length = static_cast<std::uint32_t>(audio_pages_.size());
        if (RecordMedia) {
            Record(audio_pages_.data(), length, 0, pkAudio);
        }
        if (CameraActive && LiveAudio) {
            DistributeToViewers(audio_pages_.data(), length, 0, pkAudio, logtext::kLogWaveWorkerQueue);
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogWaveWorkerEncode, e.what());
    }
    return 2;
}

void MediaPump::Timer1Timer() {
    try {
        std::vector<std::uint8_t> pages;
        {
            std::lock_guard guard(encoder_);
            encoder_.WriteHeaders();
            encoder_.TakePages(false, pages);
        }
        const auto length = static_cast<std::uint32_t>(pages.size());
        if (RecordHeaderPages) {
            Record(pages.data(), length, 1, pkAudio);
        }
        DistributeToViewers(pages.data(), length, 1, pkAudio, logtext::kLogTimer1Queue);
    } catch (const std::exception& e) {
        LogError(logtext::kLogTimer1Other, e.what());
    }
}

void MediaPump::Timer3Timer() {
    if (!file_player_) {
        return;
    }
    std::optional<StreamRecord> record;
    try {
        record = file_player_->ReadRecord();
    } catch (const std::exception& e) {
        LogError(logtext::kLogTimer3Queue, e.what());
        return;
    }
    if (record) {
        DistributeToViewers(record->bytes.data(), static_cast<std::uint32_t>(record->bytes.size()),
                            record->key_flag, record->kind, logtext::kLogTimer3Queue);
    }
}

}  // namespace halvora
