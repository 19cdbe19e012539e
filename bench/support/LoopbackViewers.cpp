#include "bench/support/LoopbackViewers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "platform/net/TServerSocket.h"

namespace halvora::bench {

ServerUnderTest::ServerUnderTest() {
    std::signal(SIGPIPE, SIG_IGN);
    RaiseOpenFileLimit();
    server_ = std::make_unique<ViewerServer>(ConnectionContext{&contacts_, "/dev/null", &loop_, &host_});
    server_->SetPort(0);
    server_->Open();
    pump_ = std::make_unique<MediaPump>(encoder_, [this] { return server_->Connections(); }, &server_->MediaWake());
    main_thread_ = std::thread([this] { loop_.Run(); });
}

ServerUnderTest::~ServerUnderTest() {
    loop_.Post([this] {
        server_->Close();
        loop_.Quit();
    });
    main_thread_.join();
}

LoopbackViewers::LoopbackViewers(int port, int count, std::string request) {
    epoll_ = epoll_create1(0);
    viewers_.resize(static_cast<std::size_t>(count));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int i = 0; i < count; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (fd >= 0) close(fd);
            continue;
        }
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        viewers_[static_cast<std::size_t>(i)].fd = fd;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<std::uint32_t>(i);
        epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev);
        ++connected_;
    }
}

LoopbackViewers::~LoopbackViewers() {
    stop_ = true;
    if (reader_.joinable()) reader_.join();
    for (Viewer& v : viewers_) {
        if (v.fd >= 0) close(v.fd);
    }
    close(epoll_);
}

bool LoopbackViewers::Start(PacketSink sink, std::chrono::seconds limit) {
    sink_ = std::move(sink);
    reader_ = std::thread([this] { ReadLoop(); });
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline) {
        if (streaming_.load() >= connected_) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return streaming_.load() >= connected_;
}

void LoopbackViewers::ReadLoop() {
    std::vector<epoll_event> events(1024);
    std::vector<char> chunk(1 << 16);
    while (!stop_) {
        const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), 20);
        const auto now = Clock::now();
        for (int e = 0; e < n; ++e) {
            const int index = static_cast<int>(events[static_cast<std::size_t>(e)].data.u32);
            Viewer& v = viewers_[static_cast<std::size_t>(index)];
            const ssize_t r = recv(v.fd, chunk.data(), chunk.size(), 0);
            if (r <= 0) {
                epoll_ctl(epoll_, EPOLL_CTL_DEL, v.fd, nullptr);
                continue;
            }
            if (v.buffer.empty()) v.packet_start = now;
            v.buffer.append(chunk.data(), static_cast<std::size_t>(r));
            Consume(index, now);
        }
    }
}

void LoopbackViewers::Consume(int index, Clock::time_point now) {
    Viewer& v = viewers_[static_cast<std::size_t>(index)];
    std::size_t pos = 0;
    if (!v.header_done) {
        const auto end = v.buffer.find("\r\n\r\n");
        if (end == std::string::npos) return;
        v.header_done = true;
        ++streaming_;
        pos = end + 4;
        v.packet_start = now;
    }
    while (v.buffer.size() - pos >= 4) {
        const auto h = PacketHeader::Parse(reinterpret_cast<const std::uint8_t*>(v.buffer.data() + pos));
        if (v.buffer.size() - pos - 4 < h.Length) break;
        if (sink_) sink_(index, h, reinterpret_cast<const std::uint8_t*>(v.buffer.data() + pos + 4), v.packet_start);
        pos += 4 + h.Length;
        v.packet_start = now;  // a packet that starts in this chunk began arriving now
    }
    v.buffer.erase(0, pos);
}

Percentiles ComputePercentiles(std::vector<double> values) {
    Percentiles p;
    if (values.empty()) return p;
    std::sort(values.begin(), values.end());
    p.median = values[values.size() / 2];
    p.p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
    return p;
}

}  // namespace halvora::bench
