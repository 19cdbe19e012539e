#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "common/MainThread.h"
#include "media/CFrameFIFO.h"
#include "platform/net/TServerSocket.h"
#include "server/IConnectionHost.h"
#include "server/RequestParser.h"

namespace halvora {

class CContact;
class CContactList;

// What every connection thread shares: the contacts, where they are saved, the
// main thread and the main window's callbacks. Owned by the server's owner and
// outliving every connection thread.
struct ConnectionContext {
    CContactList* contacts = nullptr;
    std::filesystem::path contacts_file;
    IMainThread* main = nullptr;
    IConnectionHost* host = nullptr;
    // Audio-video connections sleep on this one event; the media pump fills all
    // their queues, then wakes them with one call.
    WakeEvent* media_wake = nullptr;
};

// One viewer connection: reads one request, then answers once or streams.
//
// Producers (media pump, chat) read Command and push into Queue; they reach the
// thread only through the listening socket's snapshot of active connections,
// which keeps it alive until their push returns.
class TMyServerSendThread : public TServerClientThread {
public:
    static constexpr int kQueueCapacity = 50;

    TMyServerSendThread(std::unique_ptr<ClientSocket> socket, const ConnectionContext& context);
    ~TMyServerSendThread() override;

    // The outgoing queue; producers push with PutFrame.
    CFrameFIFO Queue{kQueueCapacity};
    // Set once by the connection thread before it attaches to a contact.
    Command GetCommandCode() const { return command_.load(std::memory_order_acquire); }

    // Operator status reported on chat streams.
    std::atomic<bool> OperatorOnline{false};
    // 1 after a "~al_start" request on this connection, 0 after "~al_stop".
    std::uint8_t CallFlag() const { return call_flag_.load(); }

    // Exposed for tests: the texts taken from the request.
    const std::string& RequestText() const { return request_text_; }

protected:
    void ClientExecute() override;
    void OnStopRequested() override;
    void OnFinished() override;

private:
    Command GetCommand();
    CContact* FindContactByAddress(const std::string& address) const;
    void AttachToContact(CContact* found);
    void SaveRegistration();
    void ForwardMessage();
    void DetachFromContacts();

    void SendAppletPage();
    void SendClientJar();
    void SendEmptyReply();
    void SendVideoAudioChat();
    // Sends the whole buffer, or gives up when the thread is told to stop; a
    // failed send tells the thread to stop.
    void SendAll(const void* data, std::size_t length);
    // Sends one packet, header and payload, completely (or until the thread is
    // told to stop), at most one packet per kPacketSpacing.
    void SendPacket(const std::uint8_t* header, const std::uint8_t* payload, std::size_t payload_length);
    // The end of a one-shot reply: a short pause, then the thread withdraws.
    void FinishReply();

    void Synchronize(void (TMyServerSendThread::*callback)());
    void RefreshConnections();
    void PostViewerMessage();

    const ConnectionContext context_;
    std::atomic<Command> command_{cmdUnclassified};
    std::atomic<std::uint8_t> call_flag_{0};
    CContact* message_contact_ = nullptr;  // MessageContact
    std::string request_text_;             // RequestText
    std::string peer_address_;             // PeerAddress
    std::string reply_buffer_;             // ReplyBuffer
    std::chrono::milliseconds poll_interval_{100};  // PollInterval
    std::chrono::steady_clock::time_point last_packet_{};
};

}  // namespace halvora
