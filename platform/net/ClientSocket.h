#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace halvora {

// One accepted TCP connection, as a connection thread sees it: the remote and
// local address and port, a send that reports bytes sent or failure, a wait for
// data with a time-out followed by one read, and the connected flag.
//
// Owned by its connection thread. Shutdown() may be called from another thread
// (the server closing) and makes a blocked send or wait return.
class ClientSocket {
public:
    explicit ClientSocket(int fd);
    ~ClientSocket();
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // False once a send has failed or the socket was shut down.
    bool Connected() const { return connected_.load(std::memory_order_acquire); }

    // Read once, when the connection is accepted: a peer that resets the
    // connection right away still has the address it came from.
    const std::string& RemoteAddress() const { return remote_address_; }  // dotted IPv4 text
    int RemotePort() const { return remote_port_; }
    const std::string& LocalAddress() const { return local_address_; }    // the address the viewer reached us on
    int LocalPort() const { return local_port_; }

    // One send call: the bytes sent (possibly fewer than asked), 0 when the
    // socket would block, or -1 on failure (the socket then counts as
    // disconnected). Never raises SIGPIPE.
    long SendOnce(const void* data, std::size_t length);
    // The same for two buffers sent back to back in one call (a packet's header
    // and its payload, each from its own memory).
    long SendOnce(const void* first, std::size_t first_length, const void* second, std::size_t second_length);

    // Waits up to timeout for data; true when some is ready (or the peer closed).
    // Throws std::system_error when the wait itself fails.
    bool WaitForData(std::chrono::milliseconds timeout);
    // One read of at most length bytes: the count read, 0 at end of stream.
    // Throws std::system_error on failure.
    std::size_t ReadOnce(void* buffer, std::size_t length);

    // Ends the connection from our side; blocked calls return.
    void Shutdown();

    int Fd() const { return fd_; }

private:
    const int fd_;
    std::atomic<bool> connected_{true};
    std::string remote_address_;
    int remote_port_ = 0;
    std::string local_address_;
    int local_port_ = 0;
};

}  // namespace halvora
