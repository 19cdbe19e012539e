#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/LogText.h"
#include "tests/spine/LiveServer.h"
#include "tests/spine/ReplyExpectations.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How many idle connections this process can hold open, both ends counted.
int FloodSize(int wanted) {
    const long limit = RaiseOpenFileLimit();
    return static_cast<int>(std::min<long>(wanted, (limit - 200) / 2));
}

int ProcessThreads() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

int LinesWithPrefix(const std::filesystem::path& log, std::string_view prefix) {
    int n = 0;
    for (const auto& line : FileLines(log)) {
        n += line.size() >= 18 && line.compare(18, prefix.size(), prefix) == 0;
    }
    return n;
}

TEST(ConnectionFlood, BeyondTheThreadLimitConnectionsAreClosedAndTheServerStaysUp) {
    constexpr int kMaxThreads = 16;
    LiveServer server(kMaxThreads);
    const int flood = FloodSize(3000);
    ASSERT_GE(flood, 500);
    std::vector<std::unique_ptr<Client>> idle;
    int most_threads = 0;
    const auto start = Clock::now();
    for (int i = 0; i < flood; ++i) {
        idle.push_back(server.Connect("127.0.7.1"));
        most_threads = std::max(most_threads, server.server->LiveThreads());
    }
    server.PumpFor(200ms);
    most_threads = std::max(most_threads, server.server->LiveThreads());
    const auto flood_time = Clock::now() - start;
    EXPECT_LE(most_threads, kMaxThreads);
    EXPECT_TRUE(server.server->IsOpen());

    // Refused connections were closed at once, without a byte; the few that got
    // a thread have the page or are still waiting for their request.
    // A slow machine may still be accepting the last of the flood from the
    // backlog: give it time, then look.
    const std::string page = ExpectedAppletPage("127.0.0.1", server.Port());
    auto count_closed = [&] {
        int closed = 0;
        for (auto& c : idle) {
            c->Poll();
            closed += c->Eof() && c->Received().empty();
        }
        return closed;
    };
    int closed = count_closed();
    const auto deadline = Clock::now() + 30s;
    while (closed < flood / 2 && Clock::now() < deadline) {
        server.PumpFor(100ms);
        closed = count_closed();
    }
    for (auto& c : idle) {
        EXPECT_TRUE(c->Received().empty() || page.find(c->Body()) == 0) << "unexpected reply";
    }
    EXPECT_GE(closed, flood / 2);

    // A flood is logged, but not line by line.
    const int refusals = LinesWithPrefix(server.LogFile(), logtext::kLogServerSocketGetThread);
    EXPECT_GE(refusals, 1);
    EXPECT_LE(refusals, std::chrono::duration_cast<std::chrono::seconds>(flood_time).count() + 3);

    idle.clear();
    ASSERT_TRUE(server.PumpUntil([&] { return server.server->LiveThreads() == 0; }, 20s));
    auto viewer = server.Request("GET / HTTP/1.0\r\n\r\n", "127.0.7.2");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
}

TEST(ConnectionFlood, IdleConnectionsDoNotKeepAViewerWaitingAndAllEndAfterwards) {
    LiveServer server;
    const int flood = FloodSize(1000);
    const int threads_before = ProcessThreads();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < flood; ++i) {
        idle.push_back(server.Connect("127.0.7.3"));
    }
    // Many idle connection threads are running (on a slow machine the first may
    // already be done with their wait before the last have started).
    const int busy = std::min(flood, 100);
    ASSERT_TRUE(server.PumpUntil([&] { return server.server->LiveThreads() >= busy; }, 20s))
        << server.server->LiveThreads() << " of " << flood;
    EXPECT_LE(server.server->LiveThreads(), flood);
    EXPECT_LE(ProcessThreads(), threads_before + flood + 8);

    // A real viewer arriving in the middle of the flood is served.
    auto viewer = server.Request("GET / HTTP/1.0\r\n\r\n", "127.0.7.4");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));

    // Idle connections get the page after their wait and end; nothing stays.
    ASSERT_TRUE(server.PumpUntil([&] { return server.server->LiveThreads() == 0; }, 60s))
        << server.server->LiveThreads() << " threads left";
    int paged = 0;
    for (auto& c : idle) {
        c->Poll();
        paged += c->Body() == ExpectedAppletPage("127.0.0.1", server.Port());
    }
    EXPECT_EQ(paged, flood);
}

}  // namespace
}  // namespace halvora::spine
