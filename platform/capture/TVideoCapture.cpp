#include "platform/capture/TVideoCapture.h"

#include <exception>
#include <stdexcept>

#include "common/CLog.h"
#include "platform/capture/CaptureSession.h"

namespace halvora {

TVideoCapture::TVideoCapture(IMainThread& main, SourceList sources)
    : main_(main),
      sources_(sources ? std::move(sources) : SourceList([] { return ListVideoSources(); })),
      anchor_(std::make_shared<Anchor>(Anchor{this})) {
    // The settings every camera slot is designed with: frames grabbed as 24-bit
    // bitmaps, a live preview, no capture to file, no sound from the camera.
    settings_.WantBitmaps = true;
    settings_.BitmapPixelFormat = TGraphConfig::pf24bit;
    settings_.WantPreview = true;
    settings_.WantCapture = false;
    settings_.WantAudio = false;
    settings_.WantAudioPreview = false;
    settings_.WantDVAudio = true;
    settings_.DVResolution = TGraphConfig::dvrDontWorry;
}

TVideoCapture::~TVideoCapture() {
    CloseSession();
    anchor_.reset();
}

bool TVideoCapture::Init() {
    const auto list = sources_();
    if (list.empty()) {
        return false;
    }
    if (settings_.VideoCaptureSource.empty()) {
        settings_.VideoCaptureSource = list.front().name;
    }
    return true;
}

void TVideoCapture::SaveGraph(TGraphConfig& config) const { config = settings_; }

void TVideoCapture::RestoreGraph(const TGraphConfig& config) {
    CloseSession();
    settings_ = config;
    if (settings_.VideoCaptureSource.empty()) {
        return;
    }
    OpenSession();
    if (settings_.WantPreview) {
        StartPreview();
    }
}

void TVideoCapture::StartPreview() {
    if (session_ && session_->Ended()) {
        CloseSession();  // the device failed; try it afresh
    }
    if (!session_) {
        OpenSession();
    }
    session_->Start();
}

void TVideoCapture::StopPreview() { CloseSession(); }

void TVideoCapture::StopCapture() { CloseSession(); }

void TVideoCapture::CaptureFrame() noexcept {
    if (session_) {
        session_->RequestFrame();
    }
}

bool TVideoCapture::Running() const { return session_ && session_->Started() && !session_->Ended(); }

void TVideoCapture::SetOnPreviewFrame(std::function<void(const Bitmap&)> on_preview) {
    on_preview_ = std::move(on_preview);
    if (session_) {
        session_->SetPreview(static_cast<bool>(on_preview_), preview_interval_);
    }
}

void TVideoCapture::SetPreviewInterval(std::chrono::milliseconds interval) {
    preview_interval_ = interval;
    if (session_) {
        session_->SetPreview(static_cast<bool>(on_preview_), preview_interval_);
    }
}

void TVideoCapture::OpenSession() {
    const std::string& wanted = settings_.VideoCaptureSource;
    if (wanted.empty()) {
        throw std::runtime_error("no video device selected");
    }
    for (const auto& source : sources_()) {
        if (source.name != wanted) {
            continue;
        }
        const std::uint64_t id = ++session_id_;
        IMainThread* main = &main_;
        std::weak_ptr<Anchor> anchor = anchor_;
        // Runs on the reader thread; the frame crosses to the main thread, where
        // it is dropped unless this very session is still the component's.
        auto offer = [main, anchor, id](std::shared_ptr<const Bitmap> frame, bool grabbed, bool preview) {
            main->Post([anchor, id, frame = std::move(frame), grabbed, preview] {
                if (auto alive = anchor.lock()) {
                    alive->owner->Deliver(id, *frame, grabbed, preview);
                }
            });
        };
        session_ = std::make_unique<CaptureSession>(source, std::move(offer));
        session_->SetPreview(static_cast<bool>(on_preview_), preview_interval_);
        mode_text_ = session_->ModeText();
        return;
    }
    throw std::runtime_error("no video device named \"" + wanted + "\"");
}

void TVideoCapture::CloseSession() {
    session_.reset();  // joins the reader thread
    ++session_id_;     // frames already posted are now stale
}

void TVideoCapture::Deliver(std::uint64_t session_id, const Bitmap& frame, bool grabbed, bool preview) {
    if (session_id != session_id_ || !session_) {
        return;
    }
    try {
        if (preview) {
            session_->PreviewShown();
        }
        if (grabbed && OnBitmapGrabbed) {
            // A copy, so the handler may replace the handler or stop this device.
            auto handler = OnBitmapGrabbed;
            handler(frame);
        }
        if (preview && session_id == session_id_ && on_preview_) {
            auto handler = on_preview_;
            handler(frame);
        }
    } catch (const std::exception& e) {
        LogError("TVideoCapture: ", std::string("frame handler failed: ") + e.what());
    }
}

}  // namespace halvora
