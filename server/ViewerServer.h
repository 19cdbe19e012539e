#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/net/TServerSocket.h"
#include "server/TMyServerSendThread.h"

namespace halvora {

// The listening socket with its connection threads (the main window's
// ServerSocket1 and its OnGetThread handler).
class ViewerServer {
public:
    explicit ViewerServer(const ConnectionContext& context);
    ~ViewerServer();

    void SetPort(int port) { socket_.SetPort(port); }
    int Port() const { return socket_.Port(); }
    int BoundPort() const { return socket_.BoundPort(); }
    // Throws std::system_error when the port cannot be opened.
    void Open() { socket_.Open(); }
    // Stops accepting, stops every connection thread and waits for all of them.
    void Close() { socket_.Close(); }
    bool IsOpen() const { return socket_.IsOpen(); }

    // OnGetThread: the connection thread for an accepted socket.
    ServerThreadPtr ServerSocket1GetThread(std::unique_ptr<ClientSocket>& socket);

    // A snapshot of the connection threads being served; each stays valid while
    // the returned pointers are held.
    std::vector<std::shared_ptr<TMyServerSendThread>> Connections() const;
    int ActiveConnections() const { return socket_.ActiveConnections(); }
    int LiveThreads() const { return socket_.LiveThreads(); }

    TServerSocket& Socket() { return socket_; }
    // The wake-up all audio-video connections share (see ConnectionContext).
    WakeEvent& MediaWake() { return media_wake_; }

private:
    void Refused(const std::string& why);

    WakeEvent media_wake_;
    ConnectionContext context_;
    TServerSocket socket_;
    // A connection flood must not flood the log: at most one line a second.
    std::atomic<long long> last_refusal_log_ms_{-1000000};
    std::atomic<long> refused_since_log_{0};
};

}  // namespace halvora
