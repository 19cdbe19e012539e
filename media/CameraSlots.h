#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/MainThread.h"
#include "media/FrameScaler.h"
#include "media/VideoPayload.h"
#include "platform/capture/Bitmap.h"
#include "platform/capture/TGraphConfig.h"
#include "platform/capture/TVideoCapture.h"

namespace halvora {

// The five camera slots of the main window without the window: the capture
// components cap0 to cap4, which of them are started and which one is active, the
// capture timer's tick and the frame handler that scales, compresses and hands
// each frame to the video path. The window (or the headless program) owns one,
// calls it from its buttons and timers, and is told through Hooks what to show.
//
// Everything runs on the main thread, frames included (the components hand them
// over). Slot numbers outside 0..4 are ignored.
class CameraSlots {
public:
    static constexpr int kSlotCount = 5;

    // What the slots drive outside themselves. Every hook may be left empty.
    struct Hooks {
        // The compressor: compresses one 230400-byte frame and calls deliver with
        // the payload while it is valid; false when the frame was dropped.
        std::function<bool(const std::uint8_t* bits230400,
                           const std::function<void(const VideoPayload&)>& deliver)> compress;
        // The media pump's video path (recorder and viewers).
        std::function<void(const VideoPayload&)> video_path;
        std::function<void(bool enabled)> set_capture_timer;  // TimerCapture on/off
        std::function<void(bool enabled)> set_header_timer;   // Timer1 on/off
        std::function<void()> set_live_video;                 // LiveVideo = 1
        // Caption of a slot's Active button: true = ActiveText, false = InactiveText.
        std::function<void(int slot, bool active)> set_active_caption;
        std::function<void(int slot, bool enabled)> set_select_enabled;  // "Select video source"
        std::function<void(int slot, bool enabled)> set_active_enabled;  // the Active button
    };
    using ComponentFactory = std::function<std::unique_ptr<TVideoCapture>(int slot)>;
    using DeviceList = std::function<std::vector<std::string>()>;

    // make_component makes each slot's component (default: a TVideoCapture on
    // main); list_devices gives the device names slot n picks from (default:
    // GetVideoDevicesList). The components are made here, all five, with their
    // frames bound to cap4BitmapGrabbed.
    CameraSlots(IMainThread& main, Hooks hooks, ComponentFactory make_component = {},
                DeviceList list_devices = {});
    ~CameraSlots();
    CameraSlots(const CameraSlots&) = delete;
    CameraSlots& operator=(const CameraSlots&) = delete;

    // "Select video source" of slots 1 to 4, and --camera SLOT for any slot:
    // registers the slot as started, then starts the n-th device of the list in
    // it with its preview, enables its Active button and disables its Select
    // button. False, with nothing started, when the list has no n-th device (the
    // slot stays registered); false with one log line when the device fails.
    bool StartCamera(int slot);

    // An Active button: makes a started slot's camera the one the capture timer
    // asks, starts the capture and header timers, sets LiveVideo and moves the
    // ActiveText caption to this slot. A slot never started: nothing happens.
    void SetActiveCamera(int slot);

    // TimerCapture's tick: asks the active camera for a frame.
    void TimerCaptureTimer();

    // The frame handler of every component: scale, lay out bottom-up, compress,
    // hand the payload to the video path. Ignored once closing.
    void cap4BitmapGrabbed(const Bitmap& frame);

    // The main window began to close: frames are ignored from now on.
    void SetClosing() { closing_ = true; }
    bool Closing() const { return closing_; }

    // At close: StopPreview and StopCapture of every started slot's component.
    void StopAll();

    // Slot 0 is set up through the capture graph dialog: the record to show in it,
    // filled from cap0 (made on first use).
    TGraphConfig& PrepareDialogConfig();
    // After the dialog was confirmed: rebuilds cap0 from the record, registers slot
    // 0 and makes it active. Does nothing when the record names no device. Errors
    // propagate to the caller.
    void ApplyDialogConfig();

    // Read access (window and tests).
    TVideoCapture* StartedCameras(int slot) const;   // null until the slot was started
    TVideoCapture* ActiveCamera() const;             // null until a slot was made active
    int ActiveSlot() const { return active_slot_; }  // -1 for none
    const TGraphConfig* GraphConfigs(int slot) const;
    bool ActiveCaption(int slot) const;              // true when the slot's Active button reads ActiveText
    TVideoCapture& Component(int slot);              // capN
    std::string ModeString(int slot) const;          // the "Video mode:" value of a slot

private:
    static bool ValidSlot(int slot) { return slot >= 0 && slot < kSlotCount; }
    template <typename Fn, typename... Args>
    static void Call(const Fn& hook, Args... args) {
        if (hook) {
            hook(args...);
        }
    }

    // Settings
    Hooks hooks_;
    DeviceList list_devices_;

    // State (main thread)
    std::array<std::unique_ptr<TVideoCapture>, kSlotCount> components_;
    std::array<bool, kSlotCount> started_{};
    std::array<std::unique_ptr<TGraphConfig>, kSlotCount> graph_configs_;
    std::array<bool, kSlotCount> active_caption_{true, false, false, false, false};
    int active_slot_ = -1;
    bool closing_ = false;
    FrameScaler scaler_;  // holds the work image reused for every frame
};

}  // namespace halvora
