#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "common/PacketHeader.h"
#include "tests/spine/LiveServer.h"
#include "tests/spine/ReplyExpectations.h"
#include "viewers/CContact.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kOffline = PacketBytes(8, 0, 0, "~offline");
const std::string kOnline = PacketBytes(7, 0, 0, "~online");

struct Packet {
    int length;
    int key;
    int kind;
    std::string payload;
};

// The whole packets at the start of a stream body.
std::vector<Packet> Packets(const std::string& body) {
    std::vector<Packet> out;
    std::size_t at = 0;
    while (body.size() - at >= 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(body.data() + at);
        const int length = b[0] | (b[1] << 8);
        if (body.size() - at - 4 < static_cast<std::size_t>(length)) {
            break;
        }
        out.push_back({length, b[2], b[3], body.substr(at + 4, static_cast<std::size_t>(length))});
        at += 4 + static_cast<std::size_t>(length);
    }
    return out;
}

std::vector<Packet> NonStatus(const std::string& body) {
    std::vector<Packet> out;
    for (auto& p : Packets(body)) {
        if (p.kind != pkStatus) {
            out.push_back(p);
        }
    }
    return out;
}

std::string Pattern(std::size_t n, int salt) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        s[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(salt)) & 0xFF);
    }
    return s;
}

void Put(TMyServerSendThread& t, const std::string& payload, std::uint8_t key, int kind) {
    ASSERT_TRUE(t.Queue.PutFrame(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                 static_cast<std::uint32_t>(payload.size()), key, kind));
}

bool HeaderDone(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

TEST(IdleStreams, ChatGetsStatusEveryFiveSecondsAndMediaStreamsGetNothingAfterTheHeader) {
    LiveServer server;
    auto chat = server.Request("GET /chat HTTP/1.0\r\n\r\n", "127.0.3.1");
    auto av = server.Request("GET /audiovideo HTTP/1.0\r\n\r\n", "127.0.3.2");
    auto video = server.Request("GET /video HTTP/1.0\r\n\r\n", "127.0.3.3");
    auto audio = server.Request("GET /audio HTTP/1.0\r\n\r\n", "127.0.3.4");
    ASSERT_TRUE(chat->WaitFor(server.pump(), HeaderDone, 10s));
    const auto header_at = Clock::now();
    ASSERT_TRUE(chat->WaitFor(server.pump(), [](const std::string& r) { return r.size() >= r.find("\r\n\r\n") + 4 + 12; },
                              10s));
    const auto first_at = Clock::now();
    ASSERT_TRUE(chat->WaitFor(server.pump(), [](const std::string& r) { return r.size() >= r.find("\r\n\r\n") + 4 + 24; },
                              15s));
    const auto second_at = Clock::now();
    for (auto* c : {av.get(), video.get(), audio.get()}) {
        c->Poll();
    }

    EXPECT_GE(first_at - header_at, 100ms);
    EXPECT_LE(first_at - header_at, 2000ms);
    EXPECT_GE(second_at - first_at, 3000ms);
    EXPECT_LE(second_at - first_at, 9000ms);

    EXPECT_EQ(chat->Header(), ExpectedStreamHeader(DateOf(chat->Received())));
    EXPECT_EQ(chat->Body(), kOffline + kOffline);
    for (auto* c : {av.get(), video.get(), audio.get()}) {
        EXPECT_EQ(c->Header(), ExpectedStreamHeader(DateOf(c->Received())));
        EXPECT_EQ(c->Body(), "") << "an idle media stream got bytes";
        EXPECT_FALSE(c->Eof());
    }
}

TEST(ChatStream, ReportsOnlineWhenTheOperatorIs) {
    LiveServer server;
    auto chat = server.Connect("127.0.3.5");
    auto connection = server.ConnectionOf(*chat);
    ASSERT_NE(connection, nullptr);
    connection->OperatorOnline = true;
    chat->Send("GET /chat HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(chat->WaitFor(server.pump(), [](const std::string& r) { return HeaderDone(r) && r.size() >= r.find("\r\n\r\n") + 4 + 11; },
                              10s));
    EXPECT_EQ(chat->Body(), kOnline);
}

TEST(ChatStream, AFiveLetterLineIsSixBytesOfKindChatAndMediaStreamsDoNotGetIt) {
    LiveServer server;
    auto chat = server.OpenStream("chat", "127.0.3.6");
    auto av = server.OpenStream("audiovideo", "127.0.3.7");
    ASSERT_TRUE(HeaderDone(chat->Received()));
    ASSERT_TRUE(HeaderDone(av->Received()));
    server.chat.SendText("hello", -1, nullptr);
    ASSERT_TRUE(chat->WaitFor(server.pump(), [](const std::string& r) { return !NonStatus(r.substr(r.find("\r\n\r\n") + 4)).empty(); },
                              10s));
    const auto packets = NonStatus(chat->Body());
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(PacketBytes(static_cast<std::uint16_t>(packets[0].length), static_cast<std::uint8_t>(packets[0].key),
                          static_cast<std::uint8_t>(packets[0].kind), packets[0].payload),
              std::string("\x06\x00\x01\xFF", 4) + "hello\n");
    server.PumpFor(300ms);
    av->Poll();
    EXPECT_EQ(av->Body(), "");
}

TEST(MediaStream, SendsEachRecordAsHeaderAndPayloadInOrder) {
    LiveServer server;
    auto av = server.OpenStream("audiovideo", "127.0.3.8");
    auto connection = server.ConnectionOf(*av);
    ASSERT_NE(connection, nullptr);
    const std::string key_frame = Pattern(5000, 1);
    const std::string pages = Pattern(300, 2);
    const std::string largest = Pattern(65535, 3);
    Put(*connection, key_frame, 1, pkVideo);
    Put(*connection, pages, 0, pkAudio);
    Put(*connection, largest, 1, pkVideo);
    std::string small_ones;
    for (int i = 0; i < 20; ++i) {
        const std::string p = "delta" + std::to_string(i);
        Put(*connection, p, 0, pkVideo);
        small_ones += PacketBytes(static_cast<std::uint16_t>(p.size()), 0, 1, p);
    }
    const std::string expected = std::string("\x88\x13\x01\x01", 4) + key_frame + std::string("\x2C\x01\x00\x03", 4) +
                                 pages + std::string("\xFF\xFF\x01\x01", 4) + largest + small_ones;
    ASSERT_TRUE(av->WaitFor(server.pump(), [&](const std::string& r) { return r.size() >= av->Header().size() + expected.size(); },
                            20s));
    EXPECT_TRUE(av->Body() == expected) << "body of " << av->Body().size() << " bytes, expected " << expected.size();
}

struct VanishCase {
    const char* target;
    int kind;
    bool abortive;
};

class VanishingViewer : public ::testing::TestWithParam<VanishCase> {};

TEST_P(VanishingViewer, EndsItsThreadAndLeavesItsContactOffline) {
    LiveServer server;
    const std::string from = "127.0.3.9";
    auto viewer = server.OpenStream(GetParam().target, from);
    ASSERT_TRUE(HeaderDone(viewer->Received()));
    auto connection = server.ConnectionOf(*viewer);
    ASSERT_NE(connection, nullptr);
    const auto contacts = server.ContactsAt(from);
    ASSERT_EQ(contacts.size(), 1u);
    ASSERT_TRUE(server.PumpUntil([&] { return contacts[0]->IsOnline() && server.view.row_count == 1; }, 5s));

    viewer->Close(GetParam().abortive);
    // The loop notices only when a send fails: keep giving it something to send.
    const std::string payload = Pattern(1000, 4);
    bool ended = false;
    const auto deadline = Clock::now() + 20s;
    while (!ended && Clock::now() < deadline) {
        connection->Queue.PutFrame(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                   static_cast<std::uint32_t>(payload.size()), 1, GetParam().kind);
        server.PumpFor(20ms);
        ended = server.server->LiveThreads() == 0;
    }
    ASSERT_TRUE(ended) << "the connection thread did not end";
    EXPECT_FALSE(contacts[0]->IsOnline());
    EXPECT_EQ(server.ContactsAt(from).size(), 1u) << "the contact stays in the list";
    EXPECT_TRUE(server.PumpUntil([&] { return server.view.row_count == 0; }, 5s)) << "the list was not rebuilt";
    EXPECT_TRUE(server.server->Connections().empty());
}

INSTANTIATE_TEST_SUITE_P(Streams, VanishingViewer,
                         ::testing::Values(VanishCase{"chat", kKindChatRecord, false},
                                           VanishCase{"audiovideo", pkVideo, false},
                                           VanishCase{"audiovideo", pkAudio, true}));

TEST(ServerClose, StopsEveryStreamAndLeavesTheirContactsOffline) {
    LiveServer server;
    auto chat = server.OpenStream("chat", "127.0.3.10");
    auto av = server.OpenStream("audiovideo", "127.0.3.10");
    auto video = server.OpenStream("video", "127.0.3.11");
    auto silent = server.Connect("127.0.3.12");  // still waiting for its request
    ASSERT_TRUE(server.PumpUntil([&] { return server.server->LiveThreads() == 4; }, 5s));
    const auto start = Clock::now();
    server.server->Close();
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_EQ(server.server->LiveThreads(), 0);
    for (auto* c : {chat.get(), av.get(), video.get(), silent.get()}) {
        EXPECT_TRUE(c->WaitForEof(server.pump(), 5s));
    }
    for (const char* from : {"127.0.3.10", "127.0.3.11"}) {
        const auto found = server.ContactsAt(from);
        ASSERT_EQ(found.size(), 1u) << from;
        EXPECT_FALSE(found[0]->IsOnline()) << from;
    }
}

}  // namespace
}  // namespace halvora::spine
