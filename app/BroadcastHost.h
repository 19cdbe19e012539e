#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "media/COggEncoder.h"
#include "media/MediaPump.h"
#include "media/VideoCompressor.h"
#include "platform/mainloop/MainLoop.h"
#include "recording/FileSenderControl.h"
#include "recording/RecorderControl.h"
#include "server/IConnectionHost.h"
#include "server/ViewerServer.h"
#include "viewers/ActiveConnections.h"
#include "viewers/CChat.h"
#include "viewers/CContactList.h"
#include "viewers/IConnectionsView.h"

namespace halvora {

class CWaveIn;
class CameraSlots;

// What the operator would otherwise click, for running without a window.
struct HostOptions {
    std::optional<int> port;     // overrides PortNumber for this run only
    bool test_tone = false;      // sound from the synthetic tone instead of the sound card
    bool test_pattern = false;   // list the "Test pattern" device after the real cameras
    std::optional<int> camera;   // start this slot's device and make it active
    std::string record_file;     // record from start-up until shutdown
    std::string send_file;       // send this stream file instead of the live media
};

// The non-visual owner of the server's lasting objects: the listening socket,
// the compressor, the sound input and Vorbis encoder, the contacts, the chat,
// the media switches, the recorder and the file sender. The window (later)
// holds one and forwards its buttons here; without a window the program runs
// the same owner on the headless main loop.
//
// Every member function runs on the main thread unless it says otherwise.
class BroadcastHost : public IConnectionHost {
public:
    enum class StartState { NotStarted, NoCodec, Failed, Started };

    BroadcastHost(MainLoop& loop, HostOptions options, IConnectionsView* view = nullptr);
    ~BroadcastHost() override;
    BroadcastHost(const BroadcastHost&) = delete;
    BroadcastHost& operator=(const BroadcastHost&) = delete;

    // The start-up: compressor, port, listening socket, contacts, sound. A
    // missing codec ends it silently before the server opens; any other failure
    // is logged and the steps after it are skipped.
    StartState FormShow();
    // The shutdown: frames ignored, timers and cameras stopped, compressor
    // closed, contacts saved, listening socket closed (every connection thread
    // stopped and waited for), contacts freed.
    void FormClose();

    // IConnectionHost (main thread).
    bool IsVisible() const override { return visible_.load(); }
    void RefreshConnections() override;
    void PostViewerMessage(const std::string& text, CContact* contact) override;

    // Timer1's tick, and the header step every rebuild ends with.
    void Timer1Timer();

    CContactList& Contacts() { return contacts_; }
    ViewerServer& Server() { return *server_; }
    MediaPump& Pump() { return pump_; }
    VideoCompressor& Compressor() { return compressor_; }
    COggEncoder& Encoder() { return encoder_; }
    CChat& Chat() { return chat_; }
    ActiveConnections& Connections() { return list_; }
    RecorderControl& Recorder() { return recorder_; }
    FileSenderControl& FileSender() { return sender_; }
    CameraSlots* Cameras() { return cameras_.get(); }
    MainLoop& Loop() { return loop_; }
    StartState State() const { return state_; }
    int ListeningPort() const { return server_->BoundPort(); }

private:
    void InitAudio();
    void StartFromOptions();

    MainLoop& loop_;
    const HostOptions options_;
    std::atomic<bool> visible_{true};
    StartState state_ = StartState::NotStarted;
    // contacts.tbl is written back at close only if it was read at start: a
    // start-up that stopped early must not replace the stored table with an
    // empty one.
    bool contacts_loaded_ = false;

    // Declared first, destroyed last: connection threads reach the contacts
    // until the server has closed.
    CContactList contacts_;
    NullConnectionsView null_view_;
    IConnectionsView& view_;
    ActiveConnections list_;
    CChat chat_;

    VideoCompressor compressor_;
    COggEncoder encoder_;
    std::unique_ptr<ViewerServer> server_;
    MediaPump pump_;
    RecorderControl recorder_;
    FileSenderControl sender_;
    std::unique_ptr<CameraSlots> cameras_;
    std::unique_ptr<CWaveIn> wave_in_;

    MainLoop::TimerId timer1_ = 0;        // header step, 5000 ms
    MainLoop::TimerId timer3_ = 0;        // file step, 50 ms
    MainLoop::TimerId timer_capture_ = 0; // capture, 125 ms
};

}  // namespace halvora
