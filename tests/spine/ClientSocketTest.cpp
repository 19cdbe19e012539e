#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/net/ClientSocket.h"
#include "tests/spine/SpineSupport.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

// A connected loopback pair: the server's end as a ClientSocket, the viewer's
// end as a plain client bound to a chosen loopback address.
class SocketPair : public ::testing::Test {
protected:
    void SetUp() override {
        // A default SIGPIPE disposition: a send that raised it would end the test program.
        ASSERT_EQ(::signal(SIGPIPE, SIG_DFL), SIG_DFL);
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(::listen(listener_, 4), 0);
        socklen_t len = sizeof addr;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        viewer_ = std::make_unique<spine::Client>(port_, "127.0.0.7");
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        ASSERT_GE(fd, 0);
        socket_ = std::make_unique<ClientSocket>(fd);
    }
    void TearDown() override {
        socket_.reset();
        viewer_.reset();
        ::close(listener_);
    }

    int listener_ = -1;
    int port_ = 0;
    std::unique_ptr<spine::Client> viewer_;
    std::unique_ptr<ClientSocket> socket_;
};

TEST_F(SocketPair, ReportsBothEndsAddressesAndPorts) {
    EXPECT_EQ(socket_->RemoteAddress(), "127.0.0.7");
    EXPECT_EQ(socket_->RemotePort(), viewer_->LocalPort());
    EXPECT_EQ(socket_->LocalAddress(), "127.0.0.1");
    EXPECT_EQ(socket_->LocalPort(), port_);
}

TEST_F(SocketPair, ASendAfterOurSideWasShutDownFailsWithoutSigpipe) {
    // What a send meets when the server's close shuts the socket down under it.
    ASSERT_EQ(::shutdown(socket_->Fd(), SHUT_WR), 0);
    EXPECT_EQ(socket_->SendOnce("x", 1), -1);
    EXPECT_FALSE(socket_->Connected());
    EXPECT_EQ(socket_->SendOnce("x", 1), -1);
}

TEST_F(SocketPair, SendsToAViewerThatResetTheConnectionFailWithoutSigpipe) {
    viewer_->Close(/*abortive=*/true);
    long result = 0;
    for (int i = 0; i < 100 && result >= 0; ++i) {
        result = socket_->SendOnce("payload", 7);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(socket_->Connected());
}

TEST_F(SocketPair, WaitForDataEndsOnDataOnTimeOutOrOnShutdown) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(socket_->WaitForData(100ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);

    viewer_->Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(socket_->WaitForData(10s));
    char buffer[1024];
    EXPECT_EQ(socket_->ReadOnce(buffer, sizeof buffer), 18u);

    auto waiting = std::async(std::launch::async, [this] { return socket_->WaitForData(60s); });
    std::this_thread::sleep_for(50ms);
    socket_->Shutdown();
    ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready) << "Shutdown did not end the wait";
    EXPECT_FALSE(socket_->Connected());
}

TEST_F(SocketPair, AReadAfterTheViewerClosedItsSideGivesZero) {
    viewer_->ShutdownWrite();
    char buffer[16];
    ASSERT_TRUE(socket_->WaitForData(10s));
    EXPECT_EQ(socket_->ReadOnce(buffer, sizeof buffer), 0u);
}

TEST_F(SocketPair, AReadAfterTheViewerResetTheConnectionThrows) {
    viewer_->Close(/*abortive=*/true);
    char buffer[16];
    ASSERT_TRUE(socket_->WaitForData(10s));
    EXPECT_THROW(socket_->ReadOnce(buffer, sizeof buffer), std::system_error);
}

TEST(LocalSocket, ASendToAClosedPeerFailsWithoutSigpipe) {
    ASSERT_EQ(::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ClientSocket socket(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(socket.SendOnce("x", 1), -1);
    EXPECT_FALSE(socket.Connected());
}

}  // namespace
}  // namespace halvora
