#include "platform/net/ClientSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <system_error>
#include <unistd.h>

namespace halvora {
namespace {

std::string AddressText(const sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return text;
}

}  // namespace

ClientSocket::ClientSocket(int fd) : fd_(fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        remote_address_ = AddressText(addr);
        remote_port_ = ntohs(addr.sin_port);
    }
    addr = sockaddr_in{};
    len = sizeof addr;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        local_address_ = AddressText(addr);
        local_port_ = ntohs(addr.sin_port);
    }
}

ClientSocket::~ClientSocket() { ::close(fd_); }

long ClientSocket::SendOnce(const void* data, std::size_t length) {
    return SendOnce(data, length, nullptr, 0);
}

long ClientSocket::SendOnce(const void* first, std::size_t first_length, const void* second,
                            std::size_t second_length) {
    if (!Connected()) {
        return -1;
    }
    iovec parts[2] = {{const_cast<void*>(first), first_length}, {const_cast<void*>(second), second_length}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = second_length > 0 ? 2 : 1;
    for (;;) {
        const ssize_t n = ::sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<long>(n);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        connected_.store(false, std::memory_order_release);
        return -1;
    }
}

bool ClientSocket::WaitForData(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    for (;;) {
        const int r = ::poll(&p, 1, static_cast<int>(timeout.count()));
        if (r >= 0) {
            return r > 0;
        }
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "waiting for the request");
        }
    }
}

std::size_t ClientSocket::ReadOnce(void* buffer, std::size_t length) {
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, length, 0);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "reading the request");
        }
    }
}

void ClientSocket::Shutdown() {
    connected_.store(false, std::memory_order_release);
    ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace halvora
