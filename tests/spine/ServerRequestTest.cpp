#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "common/CLog.h"
#include "common/LogText.h"
#include "tests/spine/LiveServer.h"
#include "tests/spine/ReplyExpectations.h"
#include "viewers/CContact.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;

enum class Reply { Page, Jar, Ack, Stream };

struct RequestCase {
    const char* name;
    std::string request;  // sent in one piece; empty: the viewer only closes its side
    Command command;
    Reply reply;
    const char* request_text = nullptr;  // RequestText after classification, when it matters
};

std::ostream& operator<<(std::ostream& os, const RequestCase& c) { return os << c.name; }

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

// 1024 bytes that hold neither "GET /" nor "HTTP", zero bytes included.
std::string Garbage(bool with_zeros) {
    std::string g;
    for (int i = 0; i < 1024; ++i) {
        unsigned char b = static_cast<unsigned char>((i * 151 + 7) & 0xFF);
        if (!with_zeros && b == 0) {
            b = 0xA5;
        }
        if (b == 'G' || b == 'H') {
            b = 0x80;
        }
        g.push_back(static_cast<char>(b));
    }
    return g;
}

class RequestDispatch : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestDispatch, ClassifiesTheRequestAndAnswersAccordingly) {
    const RequestCase& c = GetParam();
    LiveServer server;
    const auto log_before = FileLines(server.LogFile()).size();
    auto viewer = server.Connect("127.0.2.1");
    auto connection = server.ConnectionOf(*viewer);
    ASSERT_NE(connection, nullptr);
    EXPECT_EQ(connection->GetCommandCode(), cmdUnclassified);
    if (c.request.empty()) {
        viewer->ShutdownWrite();
    } else {
        viewer->Send(c.request);
    }
    ASSERT_TRUE(server.PumpUntil([&] { return connection->GetCommandCode() != cmdUnclassified; }, 10s));
    EXPECT_EQ(connection->GetCommandCode(), c.command);
    if (c.request_text != nullptr) {
        EXPECT_EQ(connection->RequestText(), c.request_text);
    }

    switch (c.reply) {
        case Reply::Page:
            ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
            EXPECT_EQ(viewer->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
            break;
        case Reply::Jar:
            ASSERT_TRUE(viewer->WaitForEof(server.pump(), 20s));
            EXPECT_NE(viewer->Header().find("Content-type: application/octet-stream"), std::string::npos);
            break;
        case Reply::Ack:
            ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
            EXPECT_EQ(viewer->Received(), kAcknowledgement);
            break;
        case Reply::Stream:
            ASSERT_TRUE(viewer->WaitFor(server.pump(), [](const std::string& r) { return r.find("\r\n\r\n") != r.npos; },
                                        10s));
            EXPECT_EQ(viewer->Header(), ExpectedStreamHeader(DateOf(viewer->Received())));
            EXPECT_FALSE(viewer->Eof());
            break;
    }
    EXPECT_EQ(FileLines(server.LogFile()).size(), log_before) << "bad input is no failure to log";
}

// Requests as they come off the wire, with what the server must make of them.
INSTANTIATE_TEST_SUITE_P(
    Wire, RequestDispatch,
    ::testing::Values(
        RequestCase{"AudioVideo", "GET /AudioVideo HTTP/1.0\r\n\r\n", cmdAudioVideo, Reply::Stream},
        RequestCase{"MixedCaseAudioVideo", "GET /aUDIOvIDEO HTTP/1.1\r\nHost: h\r\n\r\n", cmdAudioVideo, Reply::Stream},
        RequestCase{"Xvideox", "GET /xvideox HTTP/1.0\r\n\r\n", cmdVideo, Reply::Stream},
        RequestCase{"Chat", "GET /chat HTTP/1.0\r\n\r\n", cmdChat, Reply::Stream},
        RequestCase{"Audio", "GET /audio HTTP/1.0\r\n\r\n", cmdAudio, Reply::Stream},
        RequestCase{"ClientJar", "GET /client.jar HTTP/1.0\r\n\r\n", cmdClientJar, Reply::Jar},
        RequestCase{"Root", "GET / HTTP/1.0\r\n\r\n", cmdPage, Reply::Page},
        RequestCase{"Favicon", "GET /favicon.ico HTTP/1.1\r\nHost: h\r\n\r\n", cmdPage, Reply::Page},
        RequestCase{"PostStillClassified", "POST /chat HTTP/1.0\r\n\r\n", cmdChat, Reply::Stream},
        RequestCase{"HeadStillClassified", "HEAD /audiovideo HTTP/1.0\r\n\r\n", cmdAudioVideo, Reply::Stream},
        RequestCase{"NoHttp", "GET /chat\r\n\r\n", cmdPage, Reply::Page},
        RequestCase{"LowerCaseRequestLine", "get /chat http/1.0\r\n\r\n", cmdPage, Reply::Page},
        RequestCase{"MessageWithVideoIsAStream", "GET /message?message=my+video HTTP/1.0\r\n\r\n", cmdVideo,
                    Reply::Stream},
        RequestCase{"MessageWithChatIsAStream", "GET /message?message=chat+me HTTP/1.0\r\n\r\n", cmdChat, Reply::Stream},
        RequestCase{"Message", "GET /message?message=hi HTTP/1.0\r\n\r\n", cmdMessage, Reply::Ack, "hi"},
        RequestCase{"MessageEscapesKeepTheirCase", "GET /message?message=%41%4a+X HTTP/1.0\r\n\r\n", cmdMessage,
                    Reply::Ack, "AJ x"},
        RequestCase{"MessageWithEncodedZero", "GET /message?message=a%00b HTTP/1.0\r\n\r\n", cmdMessage, Reply::Ack,
                    "ab"},
        RequestCase{"MessageWithBadEscape", "GET /message?message=a%zzb HTTP/1.0\r\n\r\n", cmdMessage, Reply::Ack, "ab"},
        RequestCase{"MessageEndingInPercent", "GET /message?message=abc% HTTP/1.0\r\n\r\n", cmdMessage, Reply::Ack,
                    "ab"},
        RequestCase{"MessageEndingInPercentDigit", "GET /message?message=abc%4 HTTP/1.0\r\n\r\n", cmdMessage, Reply::Ack,
                    "ab"},
        RequestCase{"Registration",
                    "GET /message?message=registration&name=a&company=b&email=c&phone=d&interest=e HTTP/1.0\r\n\r\n",
                    cmdRegistration, Reply::Ack, "registration&name=a&company=b&email=c&phone=d&interest=e"},
        RequestCase{"CallStop", "GET /message?message=~al_stop HTTP/1.0\r\n\r\n", cmdCall, Reply::Ack},
        RequestCase{"EmptyRequest", "", cmdPage, Reply::Page},
        RequestCase{"ZeroByteCutsTheRequest", std::string("GET /\0chat HTTP/1.0\r\n\r\n", 24), cmdPage, Reply::Page},
        RequestCase{"Exactly1024BytesEndingInHttp", "GET /chat " + Repeat('x', 1024 - 10 - 4) + "HTTP", cmdChat,
                    Reply::Stream},
        RequestCase{"Exactly1024BytesWithoutHttp", "GET /chat " + Repeat('y', 1014), cmdPage, Reply::Page},
        RequestCase{"OnlyTheFirst1024BytesCount", "GET /" + Repeat('a', 1100) + "chat HTTP/1.0\r\n\r\n", cmdPage,
                    Reply::Page},
        RequestCase{"BinaryGarbage", Garbage(true), cmdPage, Reply::Page},
        RequestCase{"BinaryGarbageWithoutZeros", Garbage(false), cmdPage, Reply::Page},
        RequestCase{"PercentSignsEverywhere", "GET /message?message=%%%%%%%%%%%%%%%%%%%%% HTTP/1.0\r\n\r\n", cmdMessage,
                    Reply::Ack}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return std::string(info.param.name); });

TEST(RequestFromAKnownViewer, CarriesTheContactsNameAndEntersItsHistory) {
    LiveServer server;
    CContact* guest = server.contacts.Adopt(std::make_unique<CContact>(CContact::kGuestRegistration, "127.0.2.2"));
    auto viewer = server.Connect("127.0.2.2");
    auto connection = server.ConnectionOf(*viewer);
    ASSERT_NE(connection, nullptr);
    viewer->Send("GET /message?message=Hello+World HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Received(), kAcknowledgement);
    EXPECT_EQ(connection->GetCommandCode(), cmdMessage);
    EXPECT_EQ(connection->RequestText(), "guest: hello world");
    {
        std::lock_guard guard(server.contacts);
        EXPECT_EQ(guest->ChatHistory, "\nguest: hello world");
    }
    ASSERT_EQ(server.host.messages.size(), 1u);
    EXPECT_EQ(server.host.messages[0].first, "guest: hello world");
    EXPECT_EQ(server.host.messages[0].second, guest);
}

TEST(RequestFromAnUnknownViewer, IsPassedOnWithoutNameOrContact) {
    LiveServer server;
    auto viewer = server.Request("GET /message?message=Hello+World HTTP/1.0\r\n\r\n", "127.0.2.3");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    ASSERT_EQ(server.host.messages.size(), 1u);
    EXPECT_EQ(server.host.messages[0].first, "hello world");
    EXPECT_EQ(server.host.messages[0].second, nullptr);
    EXPECT_EQ(server.contacts.Count(), 0);
}

TEST(CallRequest, SetsTheCallFlagOfThatConnectionOnly) {
    LiveServer server;
    auto caller = server.Connect("127.0.2.4");
    auto other = server.Connect("127.0.2.4");
    auto calling = server.ConnectionOf(*caller);
    auto chatting = server.ConnectionOf(*other);
    ASSERT_NE(calling, nullptr);
    ASSERT_NE(chatting, nullptr);
    EXPECT_EQ(calling->CallFlag(), 0);
    caller->Send("GET /message?message=~al_start HTTP/1.0\r\n\r\n");
    other->Send("GET /chat HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(caller->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(caller->Received(), kAcknowledgement);
    EXPECT_EQ(calling->GetCommandCode(), cmdCall);
    EXPECT_EQ(calling->CallFlag(), 1);
    EXPECT_EQ(chatting->CallFlag(), 0);
}

TEST(ResetBeforeTheRequest, IsLoggedAsAReadFailureAndTheServerGoesOn) {
    LiveServer server;
    for (int i = 0; i < 5 && FileLines(server.LogFile()).empty(); ++i) {
        auto viewer = server.Connect("127.0.2.5");
        ASSERT_NE(server.ConnectionOf(*viewer), nullptr);
        viewer->Close(/*abortive=*/true);
        server.PumpUntil([&] { return server.server->LiveThreads() == 0; }, 10s);
    }
    const auto lines = FileLines(server.LogFile());
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
        EXPECT_TRUE(HasLogStamp(line));
        EXPECT_EQ(line.compare(18, logtext::kLogGetCommand.size(), logtext::kLogGetCommand), 0) << line;
    }
    auto next = server.Request("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(next->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(next->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
}

}  // namespace
}  // namespace halvora::spine
