#include "server/TMyServerSendThread.h"

#include <array>
#include <cstring>
#include <mutex>
#include <thread>

#include "common/CLog.h"
#include "common/LogText.h"
#include "common/PacketHeader.h"
#include "platform/resources/Resources.h"
#include "server/HttpReplies.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"
#include "viewers/ContactsFile.h"

namespace halvora {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kRequestWait{2000};
constexpr milliseconds kAfterRead{5};
constexpr milliseconds kAfterSend{2};
constexpr milliseconds kAfterReply{100};
constexpr milliseconds kPollAfterPacket{5};
constexpr milliseconds kPollIdle{100};
// The shortest time between two packets of one stream: two send pauses and a
// poll pause. It caps a connection at about 110 packets a second; a slow viewer
// then loses records to its full queue rather than gaining delay.
constexpr milliseconds kPacketSpacing = kAfterSend + kAfterSend + kPollAfterPacket;

bool IsStreamCommand(Command c) {
    return c == cmdVideo || c == cmdChat || c == cmdAudio || c == cmdAudioVideo;
}

}  // namespace

TMyServerSendThread::TMyServerSendThread(std::unique_ptr<ClientSocket> socket, const ConnectionContext& context)
    : TServerClientThread(std::move(socket)), context_(context) {
    reply_buffer_.reserve(2048);
}

TMyServerSendThread::~TMyServerSendThread() = default;

void TMyServerSendThread::OnStopRequested() { Queue.Interrupt(); }

CContact* TMyServerSendThread::FindContactByAddress(const std::string& address) const {
    return context_.contacts->FindByAddress(address);
}

void TMyServerSendThread::ClientExecute() {
    CContact* contact = FindContactByAddress(Socket().RemoteAddress());
    if (contact != nullptr) {
        bool blocked = false;
        {
            std::lock_guard guard(*context_.contacts);
            blocked = contact->Blocked;
        }
        if (blocked) {
            DoTerminate();
            return;  // nothing read, nothing sent
        }
    }

    const Command command = GetCommand();
    if (command == cmdAudioVideo && context_.media_wake != nullptr) {
        Queue.ShareWakeEvent(context_.media_wake);
    }
    command_.store(command, std::memory_order_release);
    switch (command) {
        case cmdPage:
            SendAppletPage();
            break;
        case cmdVideo:
        case cmdChat:
        case cmdAudio:
        case cmdAudioVideo:
            AttachToContact(contact);
            Synchronize(&TMyServerSendThread::RefreshConnections);
            SendVideoAudioChat();
            break;
        case cmdClientJar:
            SendClientJar();
            break;
        case cmdRegistration:
            SaveRegistration();
            Synchronize(&TMyServerSendThread::RefreshConnections);
            break;
        case cmdMessage:
            ForwardMessage();
            break;
        case cmdCall:
            SendEmptyReply();
            break;
        default:
            break;
    }
}

Command TMyServerSendThread::GetCommand() {
    if (Terminated() || !Socket().Connected()) {
        return cmdPage;
    }
    std::array<char, kRequestBytes> buffer{};
    std::size_t received = 0;
    try {
        if (Socket().WaitForData(kRequestWait)) {
            received = Socket().ReadOnce(buffer.data(), buffer.size());
        }
        std::this_thread::sleep_for(kAfterRead);
    } catch (const std::exception& e) {
        LogError(logtext::kLogGetCommand, e.what());
        DoTerminate();
    }
    // The request is the single read, up to its first zero byte.
    const std::string request(buffer.data(), strnlen(buffer.data(), received));
    const std::string target = LowerAnsi(RequestTarget(request));
    const Command command = ClassifyTarget(target);
    if (command != cmdMessage) {
        return command;
    }

    const std::string text = MessageText(UrlDecode(target));
    if (text.find("~al_start") != std::string::npos) {
        call_flag_ = 1;
        peer_address_ = Socket().RemoteAddress();
        return cmdCall;
    }
    if (text.find("~al_stop") != std::string::npos) {
        call_flag_ = 0;
        peer_address_ = Socket().RemoteAddress();
        return cmdCall;
    }
    if (text.find("registration") != std::string::npos) {
        request_text_ = text;
        peer_address_ = Socket().RemoteAddress();
        return cmdRegistration;
    }
    CContact* sender = FindContactByAddress(Socket().RemoteAddress());
    if (sender != nullptr) {
        std::lock_guard guard(*context_.contacts);
        request_text_ = sender->Name + ": " + text;
        sender->ChatHistory.append("\n").append(request_text_);
        message_contact_ = sender;
    } else {
        request_text_ = text;
    }
    return cmdMessage;
}

void TMyServerSendThread::AttachToContact(CContact* found) {
    CContactList& contacts = *context_.contacts;
    std::lock_guard guard(contacts);
    if (found == nullptr) {
        // Looked up again under the lock: a viewer's chat and media connections
        // opened at the same moment must share one contact.
        const std::string peer = Socket().RemoteAddress();
        found = contacts.FindByAddress(peer);
        if (found == nullptr) {
            found = contacts.Adopt(std::make_unique<CContact>(CContact::kGuestRegistration, peer));
        }
    }
    found->Threads.Add(this);
}

void TMyServerSendThread::SaveRegistration() {
    CContact* contact = FindContactByAddress(peer_address_);
    {
        std::lock_guard guard(*context_.contacts);
        if (contact != nullptr) {
            const CContact parsed(request_text_, peer_address_);
            contact->Name = parsed.Name;
            contact->Company = parsed.Company;
            contact->Email = parsed.Email;
            contact->Phone = parsed.Phone;
            contact->Interest = parsed.Interest;
            SaveContacts(*context_.contacts, context_.contacts_file);
        }
    }
    SendEmptyReply();
}

void TMyServerSendThread::ForwardMessage() {
    Synchronize(&TMyServerSendThread::PostViewerMessage);
    SendEmptyReply();
}

void TMyServerSendThread::DetachFromContacts() {
    CContactList& contacts = *context_.contacts;
    std::lock_guard guard(contacts);
    const int count = contacts.Count();
    for (int i = 0; i < count; ++i) {
        contacts.Items(i)->Threads.Extract(this);
    }
}

void TMyServerSendThread::OnFinished() {
    while (FrameRecordPtr record = Queue.Pop()) {
        FreeFrame(std::move(record));
    }
    DetachFromContacts();
    if (IsStreamCommand(GetCommandCode())) {
        Synchronize(&TMyServerSendThread::RefreshConnections);
    }
}

void TMyServerSendThread::Synchronize(void (TMyServerSendThread::*callback)()) {
    try {
        context_.main->RunBlocking([this, callback] { (this->*callback)(); });
    } catch (...) {
        // The callbacks guard and log their own failures.
    }
}

void TMyServerSendThread::RefreshConnections() {
    if (context_.host != nullptr && context_.host->IsVisible()) {
        context_.host->RefreshConnections();
    }
}

void TMyServerSendThread::PostViewerMessage() {
    if (context_.host != nullptr && context_.host->IsVisible()) {
        context_.host->PostViewerMessage(request_text_, message_contact_);
    }
}

void TMyServerSendThread::SendAll(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t sent = 0;
    while (!Terminated() && sent < length) {
        const long n = Socket().SendOnce(bytes + sent, length - sent);
        if (n < 0) {
            Terminate();
            return;
        }
        sent += static_cast<std::size_t>(n);
        std::this_thread::sleep_for(kAfterSend);
    }
}

void TMyServerSendThread::SendPacket(const std::uint8_t* header, const std::uint8_t* payload,
                                     std::size_t payload_length) {
    // Packets are spaced, not each send call paused: records that arrive less
    // often than the spacing go out at once, with the same bytes, and an idle
    // or lightly loaded stream costs no timer wake-ups.
    const auto earliest = last_packet_ + kPacketSpacing;
    if (std::chrono::steady_clock::now() < earliest) {
        std::this_thread::sleep_until(earliest);
    }
    last_packet_ = std::chrono::steady_clock::now();
    const std::size_t total = 4 + payload_length;
    std::size_t sent = 0;
    while (!Terminated() && sent < total) {
        long n;
        if (sent < 4) {
            n = Socket().SendOnce(header + sent, 4 - sent, payload, payload_length);
        } else {
            n = Socket().SendOnce(payload + (sent - 4), total - sent);
        }
        if (n < 0) {
            Terminate();
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void TMyServerSendThread::FinishReply() {
    std::this_thread::sleep_for(kAfterReply);
    DoTerminate();
}

void TMyServerSendThread::SendAppletPage() {
    if (Terminated() || !Socket().Connected()) {
        return;
    }
    const std::string page = AppletPage(Socket().LocalAddress(), Socket().LocalPort());
    reply_buffer_ = AppletPageHeader(HttpDate(), page.size());
    SendAll(reply_buffer_.data(), reply_buffer_.size());
    SendAll(page.data(), page.size());
    FinishReply();
}

void TMyServerSendThread::SendClientJar() {
    if (Terminated() || !Socket().Connected()) {
        return;
    }
    const auto jar = FindResource("clientjar", "EXEFILE");
    if (jar) {
        const std::string header = ClientJarHeader(HttpDate(), jar->size());
        SendAll(header.data(), header.size());
        SendAll(jar->data(), jar->size());
    }
    FinishReply();
}

void TMyServerSendThread::SendEmptyReply() {
    if (Terminated() || !Socket().Connected()) {
        return;
    }
    reply_buffer_.assign(kEmptyReply);
    SendAll(reply_buffer_.data(), reply_buffer_.size());
    FinishReply();
}

void TMyServerSendThread::SendVideoAudioChat() {
    if (!Terminated() && Socket().Connected()) {
        try {
            reply_buffer_ = StreamReplyHeader(HttpDate());
        } catch (const std::exception& e) {
            LogError(logtext::kLogStreamHeader, e.what());
            DoTerminate();
        }
        SendAll(reply_buffer_.data(), reply_buffer_.size());
    }
    const Command command = GetCommandCode();
    int counter = 0;
    while (!Terminated() && Socket().Connected()) {
        FrameRecordPtr record = Queue.Pop();
        if (record) {
            const auto header = PacketHeader::Make(record->Size, record->KeyFlag, record->Kind).Bytes();
            SendPacket(header.data(), record->Data.get(), record->Size);
            FreeFrame(std::move(record));
            poll_interval_ = kPollAfterPacket;
        } else if (command == cmdChat && counter == 2) {
            const std::string_view status = OperatorOnline ? kStatusOnline : kStatusOffline;
            const auto header = PacketHeader::Make(static_cast<std::uint32_t>(status.size()), 0, pkStatus).Bytes();
            SendPacket(header.data(), reinterpret_cast<const std::uint8_t*>(status.data()), status.size());
            poll_interval_ = kPollIdle;
        }
        // The pause between passes; a push ends it early (same bytes, sooner),
        // and the packet spacing above keeps the pace. Streams without a status
        // packet have nothing to do until a push or the stop request, so they
        // wait for exactly that and cost nothing while idle.
        if (command == cmdChat) {
            Queue.WaitForRecord(poll_interval_);
        } else {
            Queue.WaitForRecord();
        }
        counter = (counter % 50) + 1;
    }
}

}  // namespace halvora
