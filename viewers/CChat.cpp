#include "viewers/CChat.h"

#include <mutex>

#include "common/CLog.h"
#include "common/LogText.h"
#include "common/PacketHeader.h"
#include "server/TMyServerSendThread.h"
#include "viewers/ActiveConnections.h"
#include "viewers/CContact.h"
#include "viewers/CContactList.h"

namespace halvora {
namespace {

void QueueChat(TMyServerSendThread& connection, const std::string& packet) {
    connection.Queue.PutFrame(reinterpret_cast<const std::uint8_t*>(packet.data()),
                              static_cast<std::uint32_t>(packet.size()), 1, kKindChatRecord);
}

}  // namespace

CChat::CChat(CContactList& contacts, ActiveConnections& list, IConnectionsView& view, ConnectionsFn connections)
    : contacts_(contacts), list_(list), view_(view), connections_(std::move(connections)) {}

void CChat::SendText(const std::string& text, int row, CContact* contact) {
    const bool clear = text == kClearChatCommand;
    const std::string packet = text + "\n";
    if (contact != nullptr) {
        try {
            std::lock_guard guard(contacts_);
            if (contact == list_.ChatTarget()) {
                view_.AppendChatLine(text);
            }
            std::lock_guard threads(contact->Threads);
            const int count = contact->Threads.Count();
            for (int i = 0; i < count; ++i) {
                TMyServerSendThread* t = contact->Threads.Items(i);
                if (t->GetCommandCode() == cmdChat) {
                    QueueChat(*t, packet);
                }
            }
        } catch (const std::exception& e) {
            LogError(logtext::kLogSendTextContact, e.what());
        }
        return;
    }
    if (row == -1) {
        for (const auto& t : connections_()) {
            try {
                if (t->Socket().Connected() && t->GetCommandCode() == cmdChat) {
                    QueueChat(*t, packet);
                }
            } catch (const std::exception& e) {
                LogError(logtext::kLogSendTextAll, e.what());
            }
        }
        return;
    }
    try {
        std::lock_guard guard(contacts_);
        const auto& rows = list_.OnlineRows();
        if (rows.empty() || row < 0 || row >= static_cast<int>(rows.size())) {
            return;
        }
        CContact* target = contacts_.Items(rows[static_cast<std::size_t>(row)]);
        std::lock_guard threads(target->Threads);
        const int count = target->Threads.Count();
        for (int i = 0; i < count; ++i) {
            TMyServerSendThread* t = target->Threads.Items(i);
            if (t->GetCommandCode() != cmdChat) {
                continue;
            }
            if (clear) {
                target->ChatHistory.clear();
            } else {
                QueueChat(*t, packet);
                target->ChatHistory += packet;
            }
        }
    } catch (const std::exception& e) {
        LogError(logtext::kLogSendTextRow, e.what());
    }
}

void CChat::SpeedButton15Click(std::string& input_line) {
    try {
        if (input_line.empty()) {
            return;
        }
        const int row = view_.SelectedRow();
        if (row >= 0) {
            const std::string text = "Server: " + input_line;
            SendText(text, row, nullptr);
            view_.AppendChatLine(text);
            input_line.clear();
        }
        view_.RepaintList();
    } catch (const std::exception& e) {
        LogError(logtext::kLogSendChat, e.what());
    }
}

void CChat::SpeedButton16Click() {
    try {
        const int row = view_.SelectedRow();
        if (row >= 0) {
            SendText(kClearChatCommand, row, nullptr);
            view_.ClearChat();
        }
        view_.RepaintList();
    } catch (const std::exception& e) {
        LogError(logtext::kLogClearChat, e.what());
    }
}

}  // namespace halvora
