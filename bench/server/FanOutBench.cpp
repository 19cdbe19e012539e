// Fan-out load tool.
//
// A child process runs the broadcast server (listening socket, one thread per
// connection) and one producer that pushes what a live broadcast pushes: 8
// video records of ~2 KB and ~6 audio records of ~200 B a second, a key frame
// every 10 video records, into every audio-video connection. The parent opens N
// viewer connections on loopback, reads their streams with epoll and counts the
// records each receives. Printed per N: delivered / pushed per viewer (min and
// mean), the server's CPU (user+sys seconds per wall second) and its resident
// memory per viewer.
//
// Usage: fanout_bench [seconds] [N...]     (default: 10 s; N = 100 1000 10000)

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/PacketHeader.h"
#include "media/COggEncoder.h"
#include "media/MediaPump.h"
#include "platform/mainloop/MainLoop.h"
#include "platform/net/TServerSocket.h"
#include "server/IConnectionHost.h"
#include "server/ViewerServer.h"
#include "viewers/CContactList.h"

using namespace halvora;
using Clock = std::chrono::steady_clock;

namespace {

struct HiddenHost : IConnectionHost {
    bool IsVisible() const override { return false; }
    void RefreshConnections() override {}
    void PostViewerMessage(const std::string&, CContact*) override {}
};

bool WriteAll(int fd, const void* data, std::size_t n) {
    const auto* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool ReadAll(int fd, void* data, std::size_t n) {
    auto* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r <= 0) return false;
        p += r;
        n -= static_cast<std::size_t>(r);
    }
    return true;
}

struct Pushed {
    long video = 0;
    long audio = 0;
};

// The server side: runs until killed.
[[noreturn]] void RunServer(int to_parent, int from_parent, int seconds) {
    RaiseOpenFileLimit();
    std::signal(SIGPIPE, SIG_IGN);
    MainLoop loop;
    CContactList contacts;
    HiddenHost host;
    ViewerServer server(ConnectionContext{&contacts, "/dev/null", &loop, &host});
    server.SetPort(0);
    server.Open();
    COggEncoder encoder;  // not initialised: only the walk is used
    MediaPump pump(encoder, [&] { return server.Connections(); }, &server.MediaWake());

    const int port = server.BoundPort();
    WriteAll(to_parent, &port, sizeof port);

    std::thread producer([&] {
        char go = 0;
        if (!ReadAll(from_parent, &go, 1)) return;
        std::vector<std::uint8_t> video(2000, 0x55), audio(200, 0x33);
        Pushed pushed;
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        // 8 video a second (every 125 ms), 6 audio a second (every ~167 ms).
        auto next_video = start, next_audio = start;
        while (Clock::now() < end) {
            const auto now = Clock::now();
            if (now >= next_video) {
                const std::uint8_t key = pushed.video % 10 == 0 ? 1 : 0;
                pump.DistributeToViewers(video.data(), static_cast<std::uint32_t>(video.size()), key, pkVideo, "");
                ++pushed.video;
                next_video += std::chrono::milliseconds(125);
            }
            if (now >= next_audio) {
                pump.DistributeToViewers(audio.data(), static_cast<std::uint32_t>(audio.size()), 0, pkAudio, "");
                ++pushed.audio;
                next_audio += std::chrono::microseconds(166667);
            }
            std::this_thread::sleep_until(std::min(next_video, next_audio));
        }
        WriteAll(to_parent, &pushed, sizeof pushed);
    });
    producer.detach();
    loop.Run();
    std::_Exit(0);
}

struct ProcStats {
    double cpu_seconds = 0;
    long rss_kb = 0;
    long threads = 0;
};

ProcStats ReadProc(pid_t pid) {
    ProcStats s;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    std::istringstream rest(content.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    s.cpu_seconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) s.rss_kb = std::stol(line.substr(6));
        if (line.rfind("Threads:", 0) == 0) s.threads = std::stol(line.substr(8));
    }
    return s;
}

struct Viewer {
    int fd = -1;
    std::string buffer;
    bool header_done = false;
    long records = 0;
};

// Parses what arrived; returns records completed.
void Consume(Viewer& v) {
    std::size_t pos = 0;
    if (!v.header_done) {
        const auto end = v.buffer.find("\r\n\r\n");
        if (end == std::string::npos) return;
        v.header_done = true;
        pos = end + 4;
    }
    while (v.buffer.size() - pos >= 4) {
        const auto h = PacketHeader::Parse(reinterpret_cast<const std::uint8_t*>(v.buffer.data() + pos));
        if (v.buffer.size() - pos - 4 < h.Length) break;
        if (h.Kind == pkVideo || h.Kind == pkAudio) ++v.records;
        pos += 4 + h.Length;
    }
    v.buffer.erase(0, pos);
}

void RunOnce(int viewers, int seconds) {
    int to_parent[2], from_parent[2];
    if (pipe(to_parent) != 0 || pipe(from_parent) != 0) {
        std::perror("pipe");
        return;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(to_parent[0]);
        close(from_parent[1]);
        RunServer(to_parent[1], from_parent[0], seconds);
    }
    close(to_parent[1]);
    close(from_parent[0]);
    int port = 0;
    ReadAll(to_parent[0], &port, sizeof port);
    const ProcStats idle = ReadProc(child);

    const int ep = epoll_create1(0);
    std::vector<Viewer> v(static_cast<std::size_t>(viewers));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char request[] = "GET /audiovideo HTTP/1.0\r\n\r\n";
    int connected = 0;
    for (int i = 0; i < viewers; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            if (fd >= 0) close(fd);
            continue;
        }
        send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
        v[static_cast<std::size_t>(i)].fd = fd;
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.u32 = static_cast<std::uint32_t>(i);
        epoll_ctl(ep, EPOLL_CTL_ADD, fd, &ev);
        ++connected;
    }

    std::vector<epoll_event> events(1024);
    std::vector<char> chunk(1 << 16);
    auto pump_events = [&](int timeout_ms) {
        const int n = epoll_wait(ep, events.data(), static_cast<int>(events.size()), timeout_ms);
        for (int e = 0; e < n; ++e) {
            Viewer& viewer = v[events[static_cast<std::size_t>(e)].data.u32];
            const ssize_t r = recv(viewer.fd, chunk.data(), chunk.size(), 0);
            if (r <= 0) {
                epoll_ctl(ep, EPOLL_CTL_DEL, viewer.fd, nullptr);
                continue;
            }
            viewer.buffer.append(chunk.data(), static_cast<std::size_t>(r));
            Consume(viewer);
        }
    };
    // Every viewer has its reply header once it is attached and streaming.
    const auto setup_deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < setup_deadline) {
        const long ready = std::count_if(v.begin(), v.end(), [](const Viewer& x) { return x.header_done; });
        if (ready >= connected) break;
        pump_events(50);
    }
    const long streaming = std::count_if(v.begin(), v.end(), [](const Viewer& x) { return x.header_done; });

    const ProcStats before = ReadProc(child);
    const auto start = Clock::now();
    const char go = 1;
    WriteAll(from_parent[1], &go, 1);
    while (Clock::now() < start + std::chrono::seconds(seconds)) {
        pump_events(20);
    }
    const ProcStats during = ReadProc(child);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    // Let the queues drain: what is still queued at the end is delivered late, not lost.
    const auto drain_end = Clock::now() + std::chrono::seconds(3);
    while (Clock::now() < drain_end) {
        pump_events(20);
    }
    Pushed pushed;
    ReadAll(to_parent[0], &pushed, sizeof pushed);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (Viewer& x : v) {
        if (x.fd >= 0) close(x.fd);
    }
    close(ep);
    close(to_parent[0]);
    close(from_parent[1]);

    const double total = static_cast<double>(pushed.video + pushed.audio);
    double min_ratio = 1e9, sum = 0;
    for (const Viewer& x : v) {
        if (x.fd < 0) continue;
        const double r = total > 0 ? static_cast<double>(x.records) / total : 0;
        min_ratio = std::min(min_ratio, r);
        sum += r;
    }
    const double mean = connected > 0 ? sum / connected : 0;
    std::printf("N=%-6d connected=%-6d streaming=%-6ld pushed=%ld  delivered/pushed min=%.4f mean=%.4f  "
                "server CPU=%.3f cores  RSS/viewer=%.1f KiB (RSS %ld MiB, %ld threads)\n",
                viewers, connected, streaming, static_cast<long>(total), min_ratio == 1e9 ? 0.0 : min_ratio, mean,
                (during.cpu_seconds - before.cpu_seconds) / wall,
                connected > 0 ? static_cast<double>(during.rss_kb - idle.rss_kb) / connected : 0.0,
                during.rss_kb / 1024, during.threads);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    std::signal(SIGPIPE, SIG_IGN);
    int seconds = 10;
    std::vector<int> sizes;
    if (argc > 1) seconds = std::max(1, std::atoi(argv[1]));
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {100, 1000, 10000};
    std::printf("fan-out: %d s of 8 video records (2000 B, key every 10) and 6 audio records (200 B) a second\n",
                seconds);
    for (int n : sizes) RunOnce(n, seconds);
    return 0;
}
