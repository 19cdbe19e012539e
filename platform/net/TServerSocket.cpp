#include "platform/net/TServerSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace halvora {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::size_t kDefaultStack = 1024 * 1024;  // sanitizers need room for their own frames
#else
constexpr std::size_t kDefaultStack = 128 * 1024;
#endif

}  // namespace

void* TServerSocket::ThreadEntry(void* arg) {
    std::unique_ptr<ServerThreadPtr> self(static_cast<ServerThreadPtr*>(arg));
    (*self)->Run();
    return nullptr;
}

TServerClientThread::TServerClientThread(std::unique_ptr<ClientSocket> socket) : socket_(std::move(socket)) {}

TServerClientThread::~TServerClientThread() = default;

void TServerClientThread::Terminate() {
    terminated_.store(true, std::memory_order_release);
    OnStopRequested();
}

void TServerClientThread::DoTerminate() {
    if (active_.exchange(false) && server_ != nullptr) {
        server_->Withdraw(this);
    }
}

void TServerClientThread::Run() {
    try {
        ClientExecute();
    } catch (...) {
        // Each handler inside ClientExecute guards and logs its own failures;
        // whatever still escapes only ends this connection.
    }
    // The connection is closed and withdrawn before the thread's own clean-up,
    // so no producer reaches it any more.
    socket_->Shutdown();
    active_.store(false);
    TServerSocket* server = server_;
    server->Withdraw(this);
    try {
        OnFinished();
    } catch (...) {
    }
    // Drop our own reference before the server lets Close() return, so the
    // object is gone (or held only by a walk's snapshot) when shutdown goes on.
    server->ThreadEnded(this);
}

TServerSocket::TServerSocket(GetThreadFn get_thread, RefusedFn on_refused, IMainThread* main)
    : get_thread_(std::move(get_thread)), on_refused_(std::move(on_refused)), main_(main),
      stack_size_(kDefaultStack) {}

TServerSocket::~TServerSocket() { Close(); }

void TServerSocket::Open() {
    if (open_) {
        return;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(static_cast<std::uint16_t>(port_));
    if (port_ < 0 || port_ > 65535) {
        ::close(fd);
        throw std::system_error(EINVAL, std::generic_category(), "port " + std::to_string(port_));
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::system_error(err, std::generic_category(), "Could not bind port " + std::to_string(port_));
    }
    if (::listen(fd, SOMAXCONN) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::system_error(err, std::generic_category(), "listen");
    }
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    bound_port_ = ntohs(bound.sin_port);
    listen_fd_ = fd;
    open_ = true;
    accept_thread_ = std::thread([this] { AcceptLoop(); });
}

void TServerSocket::AcceptLoop() {
    for (;;) {
        const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: give running connections a moment to end.
                if (on_refused_) {
                    on_refused_(std::strerror(errno));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                if (!open_) {
                    return;
                }
                continue;
            }
            return;  // the listener was shut down by Close()
        }
        auto socket = std::make_unique<ClientSocket>(fd);
        {
            std::lock_guard guard(mutex_);
            if (static_cast<int>(all_.size()) >= max_threads_.load()) {
                socket.reset();
                if (on_refused_) {
                    on_refused_("too many connections (" + std::to_string(max_threads_.load()) + ")");
                }
                continue;
            }
        }
        ServerThreadPtr thread;
        try {
            thread = get_thread_(socket);
        } catch (const std::exception& e) {
            if (on_refused_) {
                on_refused_(e.what());
            }
            continue;  // the socket is closed with its owner
        }
        if (!thread) {
            continue;
        }
        thread->server_ = this;
        {
            std::lock_guard guard(mutex_);
            connections_.push_back(thread);
            all_.push_back(thread);
        }
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, stack_size_);
        pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
        auto arg = std::make_unique<ServerThreadPtr>(thread);
        pthread_t id;
        const int rc = pthread_create(&id, &attr, &ThreadEntry, arg.get());
        pthread_attr_destroy(&attr);
        if (rc == 0) {
            arg.release();  // the new thread owns it now
            continue;
        }
        // No thread: the connection is withdrawn and closed.
        thread->Socket().Shutdown();
        Withdraw(thread.get());
        Forget(thread.get());
        if (on_refused_) {
            on_refused_(std::string("could not start a thread: ") + std::strerror(rc));
        }
    }
}

namespace {

// Removes thread from a list the caller has locked.
void EraseThread(std::vector<ServerThreadPtr>& list, const TServerClientThread* thread) {
    auto it = std::find_if(list.begin(), list.end(), [thread](const ServerThreadPtr& p) { return p.get() == thread; });
    if (it != list.end()) {
        list.erase(it);
    }
}

}  // namespace

void TServerSocket::Withdraw(TServerClientThread* thread) {
    std::lock_guard guard(mutex_);
    EraseThread(connections_, thread);
}

void TServerSocket::Forget(TServerClientThread* thread) {
    std::lock_guard guard(mutex_);
    EraseThread(all_, thread);
}

void TServerSocket::ThreadEnded(TServerClientThread* thread) {
    // Removed and announced under one hold of the mutex: Close() cannot see the
    // last thread gone, return and let the server be destroyed while this
    // notify is still under way.
    std::lock_guard guard(mutex_);
    EraseThread(all_, thread);
    all_ended_.notify_all();
}

std::vector<ServerThreadPtr> TServerSocket::Connections() const {
    std::lock_guard guard(mutex_);
    return connections_;
}

std::vector<ServerThreadPtr> TServerSocket::ActiveThreads() const {
    std::lock_guard guard(mutex_);
    std::vector<ServerThreadPtr> out;
    out.reserve(connections_.size());
    for (const auto& t : connections_) {
        if (t->Active()) {
            out.push_back(t);
        }
    }
    return out;
}

int TServerSocket::ActiveConnections() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(connections_.size());
}

int TServerSocket::LiveThreads() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(all_.size());
}

std::vector<ServerThreadPtr> TServerSocket::AllThreads() const {
    std::lock_guard guard(mutex_);
    return all_;
}

void TServerSocket::Close() {
    if (!open_.exchange(false)) {
        return;
    }
    ::shutdown(listen_fd_, SHUT_RDWR);
    if (accept_thread_.joinable()) {
        accept_thread_.join();
    }
    ::close(listen_fd_);
    listen_fd_ = -1;

    // Threads finishing on their own withdraw themselves meanwhile; every one
    // still listed is told to stop and its connection shut down.
    for (const ServerThreadPtr& t : AllThreads()) {
        t->Terminate();
        t->Socket().Shutdown();
    }
    auto all_done = [this] { return LiveThreads() == 0; };
    if (main_ != nullptr && main_->IsMainThread()) {
        // A connection thread may be waiting for the main thread right now.
        while (!main_->ServeUntil(all_done, std::chrono::seconds(1))) {
            for (const ServerThreadPtr& t : AllThreads()) {
                t->Terminate();
                t->Socket().Shutdown();
            }
        }
    } else {
        std::unique_lock lock(mutex_);
        all_ended_.wait(lock, [this] { return all_.empty(); });
    }
}

long RaiseOpenFileLimit() {
    rlimit lim{};
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        return -1;
    }
    if (lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &lim);
        ::getrlimit(RLIMIT_NOFILE, &lim);
    }
    return static_cast<long>(lim.rlim_cur);
}

}  // namespace halvora
