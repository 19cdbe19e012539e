#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "viewers/IConnectionsView.h"

namespace halvora {

class ActiveConnections;
class CContact;
class CContactList;
class TMyServerSendThread;

// The chat between the operator and the viewers (main thread only).
class CChat {
public:
    using ConnectionsFn = std::function<std::vector<std::shared_ptr<TMyServerSendThread>>()>;
    static constexpr const char* kClearChatCommand = "~clearchathistory";

    CChat(CContactList& contacts, ActiveConnections& list, IConnectionsView& view, ConnectionsFn connections);

    // Queues a chat text, with a line feed added, to:
    //  - the given contact's chat connections (the echo of a viewer message);
    //  - without a contact and row -1, every chat connection of the server;
    //  - without a contact and row >= 0, the contact in that row of the list
    //    (the operator's lines and the clear command).
    void SendText(const std::string& text, int row, CContact* contact);

    // "Send": the input line goes to the selected viewer, prefixed "Server: ".
    // The input line is emptied once sent; with no row selected it stays.
    void SpeedButton15Click(std::string& input_line);
    // "Clear": empties the selected viewer's chat history.
    void SpeedButton16Click();

private:
    CContactList& contacts_;
    ActiveConnections& list_;
    IConnectionsView& view_;
    ConnectionsFn connections_;
};

}  // namespace halvora
