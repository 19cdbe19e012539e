#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/WakeEvent.h"
#include "media/VideoPayload.h"

namespace halvora {

class COggEncoder;
class CVideo;
class TMyServerSendThread;

// Moves every piece of encoded media to where it must go: the recorder's stream
// file and the queue of every audio-video viewer. Four producers feed it: the
// video path (frame handler, main thread), the audio path (MyWaveInWorker, the
// capture thread), the header step (Timer1Timer, main thread) and the file step
// (Timer3Timer, main thread). It never waits for a viewer.
//
// The switches are written on the main thread and read by the producers
// without a lock (atomics). The recorder is the one shared object with a
// lifetime of its own: producers take a reference under recorder_mutex_, so it
// is never used after it was released.
class MediaPump {
public:
    using ConnectionsFn = std::function<std::vector<std::shared_ptr<TMyServerSendThread>>()>;

    // media_wake: the event the audio-video connections sleep on (may be null:
    // each queue then wakes its own consumer).
    MediaPump(COggEncoder& encoder, ConnectionsFn connections, WakeEvent* media_wake = nullptr);
    ~MediaPump();

    // Switches.
    std::atomic<int> LiveVideo{1};
    std::atomic<bool> LiveAudio{true};
    std::atomic<bool> RecordMedia{false};
    std::atomic<bool> RecordHeaderPages{false};
    // A camera is active: captured sound reaches viewers only then.
    std::atomic<bool> CameraActive{false};
    // The main window is shown; hidden at the start of the close, which
    // silences the audio path.
    std::atomic<bool> Visible{true};

    // The recorder's stream file; installing or releasing one is the Recorder's
    // business. Release waits until no producer is still writing to it, so the
    // file is complete when it returns.
    void SetRecorder(std::shared_ptr<CVideo> recorder);
    std::shared_ptr<CVideo> ReleaseRecorder();
    bool HasRecorder() const;

    // The file sender's reader (main thread only).
    void SetFilePlayer(std::unique_ptr<CVideo> player);
    void ResetFilePlayer();
    bool HasFilePlayer() const { return file_player_ != nullptr; }

    // Copies the record into the queue of every audio-video connection present
    // now. A failure with one connection is logged with failure_text and the walk
    // goes on.
    void DistributeToViewers(const std::uint8_t* bytes, std::uint32_t length, std::uint8_t key_flag, int kind,
                             std::string_view failure_text);

    // The video path, for each compressed frame (main thread).
    void VideoPath(const VideoPayload& payload);
    // The audio path: the capture callback for each filled buffer; returns 0
    // while hidden, else 2 (both hand the buffer back).
    int MyWaveInWorker(const std::uint8_t* bytes, std::uint32_t count, std::uintptr_t user);
    // The header step: fresh Vorbis headers into the stream, every 5 s and at
    // every rebuild of the connections list (main thread).
    void Timer1Timer();
    // The file step: one record of the file being sent per 50 ms tick.
    void Timer3Timer();

private:
    std::shared_ptr<CVideo> Recorder() const;
    void Record(const std::uint8_t* bytes, std::uint32_t length, std::uint8_t key_flag, int kind);

    COggEncoder& encoder_;
    ConnectionsFn connections_;
    WakeEvent* media_wake_;

    mutable std::mutex recorder_mutex_;  // guards recorder_; taken on its own, briefly
    std::shared_ptr<CVideo> recorder_;
    std::unique_ptr<CVideo> file_player_;  // main thread only
    std::vector<std::uint8_t> audio_pages_;  // the capture thread's own buffer
};

}  // namespace halvora
