#pragma once

// Load-tool harness: a running broadcast server in this process and N viewer
// connections on loopback whose streams a background thread reads with epoll.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/PacketHeader.h"
#include "media/COggEncoder.h"
#include "media/MediaPump.h"
#include "platform/mainloop/MainLoop.h"
#include "server/IConnectionHost.h"
#include "server/ViewerServer.h"
#include "viewers/CContactList.h"

namespace halvora::bench {

using Clock = std::chrono::steady_clock;

// A server with its main loop on a thread of its own, and a media pump over its
// connections.
class ServerUnderTest {
public:
    ServerUnderTest();
    ~ServerUnderTest();
    int Port() const { return server_->BoundPort(); }
    MediaPump& Pump() { return *pump_; }
    COggEncoder& Encoder() { return encoder_; }
    ViewerServer& Server() { return *server_; }

private:
    struct HiddenHost : IConnectionHost {
        bool IsVisible() const override { return false; }
        void RefreshConnections() override {}
        void PostViewerMessage(const std::string&, CContact*) override {}
    };
    MainLoop loop_;
    CContactList contacts_;
    HiddenHost host_;
    COggEncoder encoder_;
    std::unique_ptr<ViewerServer> server_;
    std::unique_ptr<MediaPump> pump_;
    std::thread main_thread_;
};

// Called for every packet a viewer receives, with the time the packet's first
// byte arrived.
using PacketSink = std::function<void(int viewer, const PacketHeader& header, const std::uint8_t* payload,
                                      Clock::time_point first_byte)>;

class LoopbackViewers {
public:
    LoopbackViewers(int port, int count, std::string request = "GET /audiovideo HTTP/1.0\r\n\r\n");
    ~LoopbackViewers();
    // Starts reading in the background; true once every viewer has its stream
    // reply header (within the time limit).
    bool Start(PacketSink sink, std::chrono::seconds limit);
    int Connected() const { return connected_; }

private:
    struct Viewer {
        int fd = -1;
        std::string buffer;
        bool header_done = false;
        Clock::time_point packet_start{};
    };
    void ReadLoop();
    void Consume(int index, Clock::time_point now);

    std::vector<Viewer> viewers_;
    int epoll_ = -1;
    int connected_ = 0;
    PacketSink sink_;
    std::atomic<int> streaming_{0};
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Median and 99th percentile of a sample, in the sample's unit.
struct Percentiles {
    double median = 0;
    double p99 = 0;
};
Percentiles ComputePercentiles(std::vector<double> values);

}  // namespace halvora::bench
