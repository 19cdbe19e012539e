#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/MainThread.h"
#include "platform/net/ClientSocket.h"

namespace halvora {

class TServerSocket;

// The base of a connection thread: one per accepted connection, never reused.
// The server starts it, lists it while it serves, and after ClientExecute
// returns closes the connection, withdraws it from its lists and calls
// OnFinished; the object is freed when the last reference (the thread's own,
// or a walk's snapshot) goes.
class TServerClientThread : public std::enable_shared_from_this<TServerClientThread> {
public:
    explicit TServerClientThread(std::unique_ptr<ClientSocket> socket);
    virtual ~TServerClientThread();
    TServerClientThread(const TServerClientThread&) = delete;
    TServerClientThread& operator=(const TServerClientThread&) = delete;

    ClientSocket& Socket() { return *socket_; }
    const ClientSocket& Socket() const { return *socket_; }

    // The stop request. Safe from any thread; wakes the thread's own waits.
    void Terminate();
    bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

    // Withdraws the thread from the server's active connection threads: walks of
    // the media pump and the chat no longer see it.
    void DoTerminate();
    bool Active() const { return active_.load(std::memory_order_acquire); }

protected:
    // The connection's whole life, on its own thread.
    virtual void ClientExecute() = 0;
    // Called by Terminate(), on the calling thread, to end the thread's waits.
    virtual void OnStopRequested() {}
    // Called on the connection's thread after the connection was closed and
    // withdrawn from every list; the server's Close waits for it to return.
    virtual void OnFinished() {}

private:
    friend class TServerSocket;
    void Run();

    std::unique_ptr<ClientSocket> socket_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> active_{true};
    TServerSocket* server_ = nullptr;  // set before the thread starts
};

using ServerThreadPtr = std::shared_ptr<TServerClientThread>;

// The listening socket: an IPv4 listener on all interfaces, an accept thread,
// and one thread per accepted connection.
class TServerSocket {
public:
    // Makes the connection thread for an accepted socket (OnGetThread). A throw,
    // or null, leaves the connection without a thread: it is closed at once.
    using GetThreadFn = std::function<ServerThreadPtr(std::unique_ptr<ClientSocket>& socket)>;
    // Told when a connection could not get a thread (the text says why).
    using RefusedFn = std::function<void(const std::string& why)>;

    TServerSocket(GetThreadFn get_thread, RefusedFn on_refused, IMainThread* main);
    ~TServerSocket();
    TServerSocket(const TServerSocket&) = delete;
    TServerSocket& operator=(const TServerSocket&) = delete;

    void SetPort(int port) { port_ = port; }
    int Port() const { return port_; }
    // The port actually bound (differs from Port() only when Port() is 0).
    int BoundPort() const { return bound_port_.load(); }

    // Starts listening and accepting. Throws std::system_error (for example
    // when the port is in use); the server then stays closed.
    void Open();
    // Stops accepting, tells every connection thread to stop, shuts its socket
    // down and waits for every thread to finish. On the main thread it keeps
    // serving handed-over calls while it waits.
    void Close();
    bool IsOpen() const { return open_.load(); }

    // The connections currently served, as a snapshot: each thread in it stays
    // valid while the caller holds the pointer.
    std::vector<ServerThreadPtr> Connections() const;
    // The active connection threads (not withdrawn with DoTerminate), snapshot.
    std::vector<ServerThreadPtr> ActiveThreads() const;
    int ActiveConnections() const;
    // Connection threads still running (including those finishing).
    int LiveThreads() const;

    // Connections beyond this many running threads are closed at once.
    void SetMaxThreads(int max_threads) { max_threads_.store(max_threads); }
    // Stack size of each connection thread.
    void SetThreadStackSize(std::size_t bytes) { stack_size_ = bytes; }

private:
    friend class TServerClientThread;
    static void* ThreadEntry(void* arg);
    void AcceptLoop();
    void Withdraw(TServerClientThread* thread);
    void Forget(TServerClientThread* thread);
    void ThreadEnded(TServerClientThread* thread);
    std::vector<ServerThreadPtr> AllThreads() const;

    const GetThreadFn get_thread_;
    const RefusedFn on_refused_;
    IMainThread* const main_;

    int port_ = 80;
    std::atomic<int> bound_port_{0};
    std::atomic<bool> open_{false};
    int listen_fd_ = -1;
    std::thread accept_thread_;

    mutable std::mutex mutex_;  // guards connections_ and all_; innermost
    std::vector<ServerThreadPtr> connections_;  // active: what the walks see
    std::vector<ServerThreadPtr> all_;          // every thread still running
    std::condition_variable all_ended_;

    std::atomic<int> max_threads_{16384};
    std::size_t stack_size_;
};

// Raises this process's open-file limit to its hard limit; returns the new soft
// limit.
long RaiseOpenFileLimit();

}  // namespace halvora
