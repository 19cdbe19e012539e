#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/capture/Bitmap.h"
#include "platform/capture/VideoDevices.h"

struct AVFormatContext;

namespace halvora {

class CaptureDecoder;

// One open capture device and its reader thread: the running part of a capture
// component, from RestoreGraph to StopPreview.
//
// The reader thread reads and decodes every frame the device gives, keeps only
// the latest, and converts a frame to a bitmap only when one was requested
// (RequestFrame) or a preview is due; it hands the bitmap to `offer` on the
// reader thread. Getting it to the main thread is the caller's business.
//
// Made, started and destroyed on one thread (the main thread); RequestFrame,
// SetPreview and PreviewShown may be called from any thread.
class CaptureSession {
public:
    // Called on the reader thread with a converted frame: `grabbed` when it answers
    // a RequestFrame, `preview` when it is due as a preview frame (both may hold).
    using Offer = std::function<void(std::shared_ptr<const Bitmap> frame, bool grabbed, bool preview)>;

    // Opens the device and agrees on a capture mode (this can take a moment for a
    // camera). Throws std::runtime_error saying why it cannot be opened.
    CaptureSession(const VideoSource& source, Offer offer);
    // Stops the reader thread, waits for it, closes the device.
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Starts the reader thread; a second call does nothing.
    void Start();
    bool Started() const { return reader_.joinable(); }
    // The reader thread stopped by itself: the device vanished or failed.
    bool Ended() const { return ended_; }

    // The next frame the device gives is offered as grabbed.
    void RequestFrame() { grab_requested_ = true; }
    // Preview frames are offered at most once per interval, and only after the
    // previous one was shown (PreviewShown), so a busy main thread never builds a
    // backlog of pictures.
    void SetPreview(bool wanted, std::chrono::milliseconds interval);
    void PreviewShown() { preview_in_flight_ = false; }

    // "640x480x16b YUYV": the mode agreed with the device.
    const std::string& ModeText() const { return mode_text_; }
    const std::string& Name() const { return name_; }

private:
    struct FormatContextClose { void operator()(AVFormatContext* c) const; };

    void ReadLoop();
    void OfferPicture();
    // Waits until deadline or Stop; false when stopping.
    bool WaitUntil(std::chrono::steady_clock::time_point deadline);

    // Settings, fixed once open.
    const std::string name_;
    const Offer offer_;
    std::string mode_text_;
    bool paced_ = false;  // a synthetic source runs as fast as it is read: pace it by its time stamps
    double time_base_ = 0.0;  // seconds per time-stamp tick
    int stream_index_ = -1;

    // Owned by the reader thread once it runs.
    std::unique_ptr<AVFormatContext, FormatContextClose> input_;
    std::unique_ptr<CaptureDecoder> decoder_;
    std::chrono::steady_clock::time_point next_preview_{};
    bool conversion_failure_logged_ = false;

    // Shared between the reader and its callers.
    std::atomic<bool> grab_requested_{false};
    std::atomic<bool> preview_wanted_{false};
    std::atomic<bool> preview_in_flight_{false};
    std::atomic<long long> preview_interval_ms_{125};
    std::atomic<bool> ended_{false};

    std::mutex stop_mutex_;
    std::condition_variable stop_wake_;
    bool stop_ = false;  // guarded by stop_mutex_

    std::thread reader_;
};

}  // namespace halvora
