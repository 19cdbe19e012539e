#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/MainThread.h"
#include "platform/capture/Bitmap.h"
#include "platform/capture/TGraphConfig.h"
#include "platform/capture/VideoDevices.h"

namespace halvora {

class CaptureSession;

// A capture component: one camera slot's device, with the operations the program
// uses. The device runs while the preview runs (StartPreview to StopPreview);
// CaptureFrame asks for the next frame it gives, which arrives later on the main
// thread through OnBitmapGrabbed.
//
// Every member is called on the main thread, and the component is destroyed
// there; frames are handed over with IMainThread::Post. After StopPreview,
// StopCapture, RestoreGraph or destruction no frame of the earlier run is
// delivered, even one already handed over.
class TVideoCapture {
public:
    using SourceList = std::function<std::vector<VideoSource>()>;

    // sources lists the devices the component can open (default: ListVideoSources,
    // the real devices and, with --test-pattern, the test pattern).
    explicit TVideoCapture(IMainThread& main, SourceList sources = {});
    ~TVideoCapture();
    TVideoCapture(const TVideoCapture&) = delete;
    TVideoCapture& operator=(const TVideoCapture&) = delete;

    // Takes the device list afresh and selects its first device unless one is
    // selected already. False when there is no device at all.
    bool Init();

    // Run the preview (and so the device) when the graph is rebuilt.
    bool WantPreview() const { return settings_.WantPreview; }
    void SetWantPreview(bool want) { settings_.WantPreview = want; }

    // The component's settings and device name, into config.
    void SaveGraph(TGraphConfig& config) const;
    // Tears the running device down and rebuilds from config for the device it
    // names; runs the preview when config asks for it. An empty device name leaves
    // the component stopped. Throws std::runtime_error when the named device is
    // not in the list or cannot be opened.
    void RestoreGraph(const TGraphConfig& config);

    // Runs the device (opening it again if it was stopped or had failed). Throws
    // std::runtime_error when no device is selected or it cannot be opened.
    void StartPreview();
    // Stops the device; frames already on their way are dropped.
    void StopPreview();
    // Nothing is ever captured to a file; this stops the device like StopPreview.
    void StopCapture();

    // The device's mode, "640x480x16b YUYV"; empty before a device was opened.
    std::string GetModeString() const { return mode_text_; }

    // Asks for the next frame the device gives; returns at once. Does nothing when
    // the device is not running.
    void CaptureFrame() noexcept;

    // The device is running (started and not failed).
    bool Running() const;

    // Receives each requested frame, on the main thread, at the device's size.
    std::function<void(const Bitmap&)> OnBitmapGrabbed;

    // The live picture for whoever draws it, on the main thread, at most once per
    // interval (default 125 ms) and never faster than it is drawn. Frames are
    // converted for the preview only while a receiver is set.
    void SetOnPreviewFrame(std::function<void(const Bitmap&)> on_preview);
    void SetPreviewInterval(std::chrono::milliseconds interval);

private:
    // What posted frames hold on to: gone with the component.
    struct Anchor {
        TVideoCapture* owner;
    };

    void OpenSession();
    void CloseSession();
    void Deliver(std::uint64_t session_id, const Bitmap& frame, bool grabbed, bool preview);

    // Settings
    IMainThread& main_;
    SourceList sources_;
    TGraphConfig settings_;  // the capture graph as SaveGraph reports it
    std::chrono::milliseconds preview_interval_{125};
    std::function<void(const Bitmap&)> on_preview_;

    // State
    std::unique_ptr<CaptureSession> session_;  // the open device, if any
    std::uint64_t session_id_ = 0;             // which session posted frames belong to
    std::string mode_text_;
    std::shared_ptr<Anchor> anchor_;
};

}  // namespace halvora
