#include "tests/spine/SpineSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace halvora::spine {
namespace {

sockaddr_in Loopback(const std::string& address, int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) {
        throw std::invalid_argument("not an IPv4 address: " + address);
    }
    return addr;
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "halvora-spine-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::vector<std::string> FileLines(const std::filesystem::path& file) {
    const std::string text = ReadFileBytes(file);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool HasLogStamp(std::string_view line) {
    // MM/DD/YY HH:MM:SS and a space
    static constexpr std::string_view kShape = "99/99/99 99:99:99 ";
    if (line.size() < kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kShape.size(); ++i) {
        const char want = kShape[i];
        const char got = line[i];
        if (want == '9' ? (got < '0' || got > '9') : got != want) {
            return false;
        }
    }
    return true;
}

void SleepPump(milliseconds d) { std::this_thread::sleep_for(d); }

Client::Client(int port, const std::string& from, const std::string& to) : from_(from) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    const sockaddr_in local = Loopback(from, 0);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int err = errno;
        ::close(fd_);
        throw std::system_error(err, std::generic_category(), "bind " + from);
    }
    const sockaddr_in remote = Loopback(to, port);
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        const int err = errno;
        ::close(fd_);
        throw std::system_error(err, std::generic_category(), "connect " + to + ":" + std::to_string(port));
    }
}

Client::~Client() { Close(); }

void Client::Send(std::string_view bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw std::system_error(errno, std::generic_category(), "send");
        }
        sent += static_cast<std::size_t>(n);
    }
}

void Client::ShutdownWrite() { ::shutdown(fd_, SHUT_WR); }

void Client::Close(bool abortive) {
    if (fd_ < 0) {
        return;
    }
    if (abortive) {
        linger l{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    ::close(fd_);
    fd_ = -1;
}

int Client::LocalPort() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        return 0;
    }
    return ntohs(addr.sin_port);
}

void Client::Poll() {
    if (fd_ < 0 || eof_) {
        return;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            received_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) {
            eof_ = true;
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            eof_ = true;  // a reset ends the stream as well
        }
        return;
    }
}

bool Client::WaitFor(const Pump& pump, const std::function<bool(const std::string&)>& pred, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Poll();
        if (pred(received_)) {
            return true;
        }
        if (eof_ || std::chrono::steady_clock::now() >= deadline) {
            return pred(received_);
        }
        pump(milliseconds(5));
    }
}

bool Client::WaitForBytes(const Pump& pump, std::size_t count, milliseconds timeout) {
    return WaitFor(pump, [count](const std::string& r) { return r.size() >= count; }, timeout);
}

bool Client::WaitForEof(const Pump& pump, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        Poll();
        if (eof_) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        pump(milliseconds(5));
    }
}

std::string Client::Header() const {
    const auto end = received_.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : received_.substr(0, end + 4);
}

std::string Client::Body() const {
    const auto end = received_.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : received_.substr(end + 4);
}

bool PortAccepts(int port) {
    try {
        Client probe(port);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = Loopback("127.0.0.1", 0);
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::system_error(errno, std::generic_category(), "finding a free port");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string PacketBytes(std::uint16_t length, std::uint8_t key, std::uint8_t kind, std::string_view payload) {
    std::string out;
    out.push_back(static_cast<char>(length & 0xFF));
    out.push_back(static_cast<char>(length >> 8));
    out.push_back(static_cast<char>(key));
    out.push_back(static_cast<char>(kind));
    out.append(payload);
    return out;
}

}  // namespace halvora::spine
