#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/mainloop/MainLoop.h"
#include "server/IConnectionHost.h"
#include "server/TMyServerSendThread.h"
#include "server/ViewerServer.h"
#include "tests/spine/SpineSupport.h"
#include "viewers/ActiveConnections.h"
#include "viewers/CChat.h"
#include "viewers/CContactList.h"
#include "viewers/IConnectionsView.h"

namespace halvora::spine {

// The main window's list and memo, remembered instead of drawn.
class RecordingView : public IConnectionsView {
public:
    void SetRowCount(int rows) override { row_count = rows; }
    void MarkSelected(int row) override { selected = row; }
    int SelectedRow() const override { return selected; }
    void SetChatLines(const std::vector<std::string>& lines) override { chat_lines = lines; }
    void AppendChatLine(const std::string& line) override { chat_lines.push_back(line); }
    void ClearChat() override { chat_lines.clear(); }
    void RepaintList() override { ++repaints; }

    int row_count = 0;
    int selected = -1;
    int repaints = 0;
    std::vector<std::string> chat_lines;
};

// The window side of the connection threads, wired as the program wires it:
// a rebuild of the connections list, and a viewer's message into the chat.
class TestHost : public IConnectionHost {
public:
    TestHost(ActiveConnections& list, CChat& chat) : list_(list), chat_(chat) {}
    bool IsVisible() const override { return visible.load(); }
    void RefreshConnections() override {
        ++refreshes;
        list_.UpdateOnLine();
    }
    void PostViewerMessage(const std::string& text, CContact* contact) override {
        messages.emplace_back(text, contact);
        chat_.SendText(text, -1, contact);
    }

    std::atomic<bool> visible{true};
    int refreshes = 0;                                      // main thread only
    std::vector<std::pair<std::string, CContact*>> messages;  // main thread only

private:
    ActiveConnections& list_;
    CChat& chat_;
};

// A running server on a port of its own, in this process, with the test's
// thread as the main thread: every wait pumps the main loop, so connection
// threads that hand work to the main thread are served.
class LiveServer {
public:
    // max_threads: the listening socket's limit on running connection threads
    // (0 keeps its default); it is set before the socket opens.
    explicit LiveServer(int max_threads = 0);
    ~LiveServer();

    int Port() const { return server->BoundPort(); }
    const Pump& pump() const { return pump_; }
    void PumpFor(milliseconds d);
    bool PumpUntil(const std::function<bool()>& done, milliseconds timeout);

    std::unique_ptr<Client> Connect(const std::string& from = "127.0.0.1");
    // Connects and sends one request.
    std::unique_ptr<Client> Request(std::string_view request, const std::string& from = "127.0.0.1");
    // Opens a stream and waits for the reply header.
    std::unique_ptr<Client> OpenStream(std::string_view target, const std::string& from = "127.0.0.1");

    // The connection thread that serves this client, once it is listed (null
    // when it does not show up within the timeout).
    std::shared_ptr<TMyServerSendThread> ConnectionOf(const Client& client, milliseconds timeout = milliseconds(3000));

    // Contacts whose Address is exactly address.
    std::vector<CContact*> ContactsAt(const std::string& address);

    std::filesystem::path ContactsFile() const { return dir / "contacts.tbl"; }
    std::filesystem::path LogFile() const { return dir / "errors.log"; }

    TempDir dir;
    MainLoop loop;
    CContactList contacts;
    RecordingView view;
    int selection_saves = 0;
    ActiveConnections list;
    CChat chat;
    TestHost host;
    std::unique_ptr<ViewerServer> server;

private:
    Pump pump_;
};

// The stream reply header up to its date, and after it.
inline constexpr std::string_view kReplyStart = "HTTP/1.0 200 OK\r\nDate: ";

}  // namespace halvora::spine
