#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <string>

#include "platform/resources/Resources.h"
#include "tests/spine/LiveServer.h"
#include "tests/spine/ReplyExpectations.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;

std::string JarBytes() {
    const auto jar = FindResource("clientjar", "EXEFILE");
    return jar ? std::string(reinterpret_cast<const char*>(jar->data()), jar->size()) : std::string();
}

class AppletPageReply : public ::testing::TestWithParam<std::string> {};

TEST_P(AppletPageReply, NamesTheAddressAndPortTheViewerReachedAndEndsTheConnection) {
    LiveServer server;
    const std::string address = GetParam();
    const std::time_t before = std::time(nullptr);
    Client viewer(server.Port(), "127.0.0.1", address);
    viewer.Send("GET / HTTP/1.1\r\nHost: " + address + "\r\nAccept: text/html\r\n\r\n");
    ASSERT_TRUE(viewer.WaitForEof(server.pump(), 10s));
    const std::time_t after = std::time(nullptr);
    const std::string date = DateOf(viewer.Received());
    EXPECT_TRUE(IsDateBetween(date, before, after)) << date;
    const std::string page = ExpectedAppletPage(address, server.Port());
    EXPECT_EQ(viewer.Received(), ExpectedPageHeader(date, page.size()) + page);
}

INSTANTIATE_TEST_SUITE_P(LoopbackAddresses, AppletPageReply, ::testing::Values("127.0.0.1", "127.0.0.5", "127.1.2.3"));

class ClientJarReply : public ::testing::TestWithParam<std::string> {};

TEST_P(ClientJarReply, IsTheWholeEmbeddedArchiveWithStatus200) {
    const std::string jar = JarBytes();
    ASSERT_GT(jar.size(), 1000u);
    EXPECT_EQ(jar.substr(0, 2), "PK") << "the resource is a zip archive";
    LiveServer server;
    auto viewer = server.Request(GetParam());
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 20s));
    const std::string date = DateOf(viewer->Received());
    EXPECT_EQ(viewer->Header(), ExpectedJarHeader(date, jar.size()));
    EXPECT_TRUE(viewer->Body() == jar) << "body of " << viewer->Body().size() << " bytes differs from the "
                                       << jar.size() << "-byte archive";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ClientJarReply,
    ::testing::Values("GET /client.jar HTTP/1.0\r\n\r\n",
                      "GET /client.jar HTTP/1.1\r\nHost: x\r\nRange: bytes=100-199\r\n\r\n",
                      "GET /client.jar HTTP/1.1\r\nRange: bytes=-500\r\nIf-Range: \"x\"\r\n\r\n",
                      "GET /Applets/CLIENT.JAR?v=2 HTTP/1.0\r\n\r\n"));

TEST(ClientJarResource, IsTheBuiltArchive) {
    EXPECT_TRUE(JarBytes() == ReadFileBytes(HALVORA_SPINE_CLIENT_JAR));
}

class AcknowledgementReply : public ::testing::TestWithParam<std::string> {};

TEST_P(AcknowledgementReply, IsTheBareStatusLineAndNothingElse) {
    LiveServer server;
    auto viewer = server.Request(GetParam(), "127.0.0.9");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Received(), kAcknowledgement);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, AcknowledgementReply,
    ::testing::Values("GET /message?message=hello HTTP/1.0\r\n\r\n",
                      "GET /message?message=registration&name=a&company=b&email=c&phone=d&interest=e HTTP/1.0\r\n\r\n",
                      "GET /message?message=~al_start HTTP/1.0\r\n\r\n", "GET /message?message=~al_stop HTTP/1.0\r\n\r\n",
                      "GET /message?message= HTTP/1.0\r\n\r\n"));

TEST(SilentViewer, GetsThePageAfterTheRequestWait) {
    LiveServer server;
    const auto start = std::chrono::steady_clock::now();
    auto viewer = server.Connect();
    ASSERT_TRUE(viewer->WaitForBytes(server.pump(), 1, 20s));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 1500ms);
    EXPECT_LE(waited, 6000ms);
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
}

TEST(SilentViewer, ThatClosesItsSideGetsThePage) {
    LiveServer server;
    auto viewer = server.Connect();
    viewer->ShutdownWrite();
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
}

}  // namespace
}  // namespace halvora::spine
