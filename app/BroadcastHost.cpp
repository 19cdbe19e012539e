#include "app/BroadcastHost.h"

#include <chrono>
#include <cstdio>

#include "common/CLog.h"
#include "common/LogText.h"
#include "media/CWaveIn.h"
#include "media/CameraSlots.h"
#include "platform/capture/VideoDevices.h"
#include "platform/registry/CodecKey.h"
#include "platform/sound/WaveInput.h"
#include "viewers/ContactsFile.h"

namespace halvora {

using std::chrono::milliseconds;

BroadcastHost::BroadcastHost(MainLoop& loop, HostOptions options, IConnectionsView* view)
    : loop_(loop), options_(std::move(options)), view_(view != nullptr ? *view : null_view_),
      list_(contacts_, view_, [this] { SaveContacts(contacts_, ContactsFilePath()); },
            [this] { Timer1Timer(); }),
      chat_(contacts_, list_, view_, [this] { return server_->Connections(); }),
      server_(std::make_unique<ViewerServer>(
          ConnectionContext{&contacts_, ContactsFilePath(), &loop, this})),
      pump_(encoder_, [this] { return server_->Connections(); }, &server_->MediaWake()),
      recorder_(pump_),
      sender_(pump_, FileSenderControl::Timers{
                         [this](bool on) { loop_.SetTimerEnabled(timer3_, on); },
                         [this](bool on) { loop_.SetTimerEnabled(timer1_, on); }}) {
    timer1_ = loop_.AddTimer(milliseconds(5000), [this] { Timer1Timer(); });
    timer3_ = loop_.AddTimer(milliseconds(50), [this] { pump_.Timer3Timer(); });
    timer_capture_ = loop_.AddTimer(milliseconds(125), [this] {
        if (cameras_) {
            cameras_->TimerCaptureTimer();
        }
    });
}

BroadcastHost::~BroadcastHost() {
    // The capture thread calls into the pump and the encoder: it stops first.
    if (wave_in_) {
        wave_in_->Close();
    }
    if (server_) {
        server_->Close();
    }
    cameras_.reset();
}

BroadcastHost::StartState BroadcastHost::FormShow() {
    try {
        CameraSlots::Hooks hooks;
        hooks.compress = [this](const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver) {
            return compressor_.CompressFrame(bits, deliver);
        };
        hooks.video_path = [this](const VideoPayload& payload) { pump_.VideoPath(payload); };
        hooks.set_capture_timer = [this](bool on) { loop_.SetTimerEnabled(timer_capture_, on); };
        hooks.set_header_timer = [this](bool on) { loop_.SetTimerEnabled(timer1_, on); };
        hooks.set_live_video = [this] {
            pump_.LiveVideo = 1;
            pump_.CameraActive = cameras_ != nullptr && cameras_->ActiveCamera() != nullptr;
        };
        SetTestPatternEnabled(options_.test_pattern);
        cameras_ = std::make_unique<CameraSlots>(loop_, std::move(hooks));

        pump_.LiveVideo = 1;
        if (!compressor_.OpenVideoCodec()) {
            state_ = StartState::NoCodec;
            return state_;
        }

        int port = 80;
        try {
            CodecKey key;
            std::int32_t stored = 80;
            if (key.TryReadInteger("PortNumber", stored)) {
                port = stored;
            }
        } catch (const std::exception&) {
            // A key that cannot be opened leaves the default port.
        }
        if (options_.port) {
            port = *options_.port;
        }
        server_->SetPort(port);
        server_->Open();

        pump_.RecordMedia = false;
        pump_.LiveAudio = true;
        pump_.CameraActive = false;
        LoadContacts(contacts_, ContactsFilePath());
        contacts_loaded_ = true;
        InitAudio();
        state_ = StartState::Started;
    } catch (const std::exception& e) {
        LogError(logtext::kLogFormShow, e.what());
        state_ = StartState::Failed;
        return state_;
    }
    StartFromOptions();
    return state_;
}

void BroadcastHost::InitAudio() {
    try {
        wave_in_ = std::make_unique<CWaveIn>(kWaveInBufferCount, kWaveInBufferSize);
        const int device = options_.test_tone ? kWaveDeviceTestTone : kWaveMapper;
        wave_in_->Open(device, WaveFormat::Capture(),
                       [this](const std::uint8_t* data, std::uint32_t bytes, std::uintptr_t user) {
                           return pump_.MyWaveInWorker(data, bytes, user);
                       },
                       0);
        {
            std::lock_guard guard(encoder_);
            encoder_.Init(1, 8000, COggEncoder::kBroadcastQuality, 16);
        }
        wave_in_->Start();
    } catch (const std::exception& e) {
        LogError(logtext::kLogInitAudio, e.what());
    }
}

void BroadcastHost::StartFromOptions() {
    if (options_.camera && cameras_) {
        cameras_->StartCamera(*options_.camera);
        cameras_->SetActiveCamera(*options_.camera);
    }
    if (!options_.record_file.empty()) {
        recorder_.StartRecord(options_.record_file);
    }
    if (!options_.send_file.empty()) {
        if (sender_.StartSend(options_.send_file) == FileSenderControl::StartResult::Missing) {
            // Where the window would show its message box.
            std::fprintf(stderr, "halvora: %s\n", FileSenderControl::MissingFileMessage(options_.send_file).c_str());
        }
    }
}

void BroadcastHost::FormClose() {
    try {
        if (cameras_) {
            cameras_->SetClosing();
        }
        visible_ = false;
        pump_.Visible = false;
        loop_.SetTimerEnabled(timer1_, false);
        loop_.SetTimerEnabled(timer_capture_, false);
        if (cameras_) {
            cameras_->StopAll();
        }
        compressor_.CloseVideoCodec();
        // What the dialogs would do when the window closes under them.
        if (recorder_.Recording()) {
            recorder_.StopRecord();
        }
        if (sender_.Sending()) {
            sender_.StopSend();
        }
        if (contacts_loaded_) {
            SaveContacts(contacts_, ContactsFilePath());
        }
        server_->Close();
        contacts_.DestroyAll();
        pump_.ResetFilePlayer();
    } catch (const std::exception& e) {
        LogError(logtext::kLogFormClose, e.what());
    }
}

void BroadcastHost::RefreshConnections() { list_.UpdateOnLine(); }

void BroadcastHost::PostViewerMessage(const std::string& text, CContact* contact) {
    chat_.SendText(text, -1, contact);
}

void BroadcastHost::Timer1Timer() { pump_.Timer1Timer(); }

}  // namespace halvora
