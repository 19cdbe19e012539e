#include "media/CameraSlots.h"

#include <exception>

#include "common/CLog.h"
#include "common/LogText.h"
#include "platform/capture/VideoDevices.h"

namespace halvora {

CameraSlots::CameraSlots(IMainThread& main, Hooks hooks, ComponentFactory make_component, DeviceList list_devices)
    : hooks_(std::move(hooks)),
      list_devices_(list_devices ? std::move(list_devices) : DeviceList([] { return GetVideoDevicesList(); })) {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        components_[slot] = make_component ? make_component(slot) : std::make_unique<TVideoCapture>(main);
        // One handler for all five: only the active camera is ever asked for a frame.
        components_[slot]->OnBitmapGrabbed = [this](const Bitmap& frame) { cap4BitmapGrabbed(frame); };
    }
}

CameraSlots::~CameraSlots() = default;

bool CameraSlots::StartCamera(int slot) {
    if (!ValidSlot(slot)) {
        return false;
    }
    try {
        started_[slot] = true;
        const std::vector<std::string> devices = list_devices_();
        if (static_cast<std::size_t>(slot) >= devices.size()) {
            return false;
        }
        graph_configs_[slot] = std::make_unique<TGraphConfig>();
        TGraphConfig& config = *graph_configs_[slot];
        TVideoCapture& cap = *components_[slot];
        if (cap.Init()) {
            cap.SetWantPreview(true);
            cap.SaveGraph(config);
            config.VideoCaptureSource = devices[slot];
            cap.RestoreGraph(config);
            cap.StartPreview();
        }
        Call(hooks_.set_active_enabled, slot, true);
        Call(hooks_.set_select_enabled, slot, false);
        return true;
    } catch (const std::exception& e) {
        LogError(logtext::kLogStartCamera, e.what());
        return false;
    }
}

void CameraSlots::SetActiveCamera(int slot) {
    if (!ValidSlot(slot) || !started_[slot]) {
        return;
    }
    try {
        active_slot_ = slot;
        Call(hooks_.set_capture_timer, true);
        Call(hooks_.set_header_timer, true);
        Call(hooks_.set_live_video);
        for (int i = 0; i < kSlotCount; ++i) {
            active_caption_[i] = false;
            Call(hooks_.set_active_caption, i, false);
        }
        active_caption_[slot] = true;
        Call(hooks_.set_active_caption, slot, true);
    } catch (const std::exception& e) {
        LogError(logtext::kLogSetActiveCamera, e.what());
    }
}

void CameraSlots::TimerCaptureTimer() {
    if (TVideoCapture* cap = ActiveCamera()) {
        cap->CaptureFrame();
    }
}

void CameraSlots::cap4BitmapGrabbed(const Bitmap& frame) {
    if (closing_) {
        return;
    }
    try {
        // Zeroed: rows that cannot be filled go to the compressor black.
        std::vector<std::uint8_t> buffer(kCompressorFrameBytes);
        try {
            scaler_.ToCompressorLayout(frame, buffer.data());
        } catch (const std::exception& e) {
            LogError(logtext::kLogGrabCopyRows, e.what());
        }
        if (hooks_.compress) {
            hooks_.compress(buffer.data(), [this](const VideoPayload& payload) {
                if (hooks_.video_path) {
                    hooks_.video_path(payload);
                }
            });
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogGrabOther, e.what());
    }
}

void CameraSlots::StopAll() {
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (started_[slot]) {
            components_[slot]->StopPreview();
            components_[slot]->StopCapture();
        }
    }
}

TGraphConfig& CameraSlots::PrepareDialogConfig() {
    if (!graph_configs_[0]) {
        graph_configs_[0] = std::make_unique<TGraphConfig>();
    }
    components_[0]->SaveGraph(*graph_configs_[0]);
    return *graph_configs_[0];
}

void CameraSlots::ApplyDialogConfig() {
    if (!graph_configs_[0] || graph_configs_[0]->VideoCaptureSource.empty()) {
        return;
    }
    components_[0]->RestoreGraph(*graph_configs_[0]);
    started_[0] = true;
    SetActiveCamera(0);
}

TVideoCapture* CameraSlots::StartedCameras(int slot) const {
    return ValidSlot(slot) && started_[slot] ? components_[slot].get() : nullptr;
}

TVideoCapture* CameraSlots::ActiveCamera() const {
    return active_slot_ >= 0 ? components_[active_slot_].get() : nullptr;
}

const TGraphConfig* CameraSlots::GraphConfigs(int slot) const {
    return ValidSlot(slot) ? graph_configs_[slot].get() : nullptr;
}

bool CameraSlots::ActiveCaption(int slot) const { return ValidSlot(slot) && active_caption_[slot]; }

TVideoCapture& CameraSlots::Component(int slot) { return *components_.at(static_cast<std::size_t>(slot)); }

std::string CameraSlots::ModeString(int slot) const {
    return ValidSlot(slot) ? components_[slot]->GetModeString() : std::string();
}

}  // namespace halvora
