#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "common/PacketHeader.h"
#include "tests/spine/LiveServer.h"
#include "viewers/CContact.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;

// The chat packets (kind 255) a stream has delivered so far, as text; status
// packets are skipped.
std::vector<std::string> ChatLines(Client& c) {
    c.Poll();
    const std::string body = c.Body();
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (body.size() - at >= 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(body.data() + at);
        const std::size_t length = b[0] | (b[1] << 8);
        if (body.size() - at - 4 < length) {
            break;
        }
        if (b[3] == pkChat) {
            EXPECT_EQ(b[2], 1) << "chat packets are key packets";
            lines.push_back(body.substr(at + 4, length));
        }
        at += 4 + length;
    }
    return lines;
}

std::string History(LiveServer& server, CContact* c) {
    std::lock_guard guard(server.contacts);
    return c->ChatHistory;
}

// Three viewers online: A with a chat and a media stream, B and C with a chat
// stream each, all on the list in that order.
class ChatRouting : public ::testing::Test {
protected:
    void SetUp() override {
        a_chat = server.OpenStream("chat", "127.0.6.1");
        a_media = server.OpenStream("audiovideo", "127.0.6.1");
        b_chat = server.OpenStream("chat", "127.0.6.2");
        c_chat = server.OpenStream("chat", "127.0.6.3");
        ASSERT_TRUE(server.PumpUntil([&] { return server.view.row_count == 3; }, 10s));
        a = server.ContactsAt("127.0.6.1").at(0);
        b = server.ContactsAt("127.0.6.2").at(0);
        c = server.ContactsAt("127.0.6.3").at(0);
        ASSERT_EQ(server.list.OnlineRows().size(), 3u);
    }

    // Lets everything queued so far reach the viewers.
    void Settle() { server.PumpFor(300ms); }

    int RowOf(CContact* contact) {
        for (int r = 0; r < 3; ++r) {
            if (server.list.ContactAtRow(r) == contact) {
                return r;
            }
        }
        return -1;
    }

    LiveServer server;
    std::unique_ptr<Client> a_chat, a_media, b_chat, c_chat;
    CContact* a = nullptr;
    CContact* b = nullptr;
    CContact* c = nullptr;
};

TEST_F(ChatRouting, AViewersMessageIsEchoedToItsOwnChatStreamOnly) {
    server.list.ListView2SelectItem(RowOf(a));
    ASSERT_EQ(server.list.ChatTarget(), a);
    auto msg = server.Request("GET /message?message=hi+there HTTP/1.0\r\n\r\n", "127.0.6.1");
    ASSERT_TRUE(msg->WaitForEof(server.pump(), 10s));
    ASSERT_TRUE(a_chat->WaitFor(server.pump(), [&](const std::string&) { return !ChatLines(*a_chat).empty(); }, 10s));
    Settle();
    EXPECT_EQ(ChatLines(*a_chat), (std::vector<std::string>{"guest: hi there\n"}));
    EXPECT_TRUE(ChatLines(*b_chat).empty());
    EXPECT_TRUE(ChatLines(*c_chat).empty());
    a_media->Poll();
    EXPECT_EQ(a_media->Body(), "") << "chat never goes to a media stream";
    EXPECT_EQ(History(server, a), "\nguest: hi there");
    EXPECT_EQ(server.view.chat_lines, (std::vector<std::string>{"guest: hi there"}));
}

TEST_F(ChatRouting, AMessageFromTheViewerWhoIsNotTheChatTargetIsEchoedButNotShown) {
    server.list.ListView2SelectItem(RowOf(b));
    auto msg = server.Request("GET /message?message=psst HTTP/1.0\r\n\r\n", "127.0.6.3");
    ASSERT_TRUE(msg->WaitForEof(server.pump(), 10s));
    ASSERT_TRUE(c_chat->WaitFor(server.pump(), [&](const std::string&) { return !ChatLines(*c_chat).empty(); }, 10s));
    EXPECT_EQ(ChatLines(*c_chat), (std::vector<std::string>{"guest: psst\n"}));
    EXPECT_TRUE(server.view.chat_lines.empty());
}

TEST_F(ChatRouting, AMessageFromAnAddressWithoutContactGoesToEveryChatStream) {
    auto msg = server.Request("GET /message?message=to+all HTTP/1.0\r\n\r\n", "127.0.6.9");
    ASSERT_TRUE(msg->WaitForEof(server.pump(), 10s));
    for (Client* chat : {a_chat.get(), b_chat.get(), c_chat.get()}) {
        ASSERT_TRUE(chat->WaitFor(server.pump(), [&](const std::string&) { return !ChatLines(*chat).empty(); }, 10s));
    }
    Settle();
    for (Client* chat : {a_chat.get(), b_chat.get(), c_chat.get()}) {
        EXPECT_EQ(ChatLines(*chat), (std::vector<std::string>{"to all\n"}));
    }
    a_media->Poll();
    EXPECT_EQ(a_media->Body(), "");
    for (CContact* contact : {a, b, c}) {
        EXPECT_EQ(History(server, contact), "");
    }
    EXPECT_EQ(server.ContactsAt("127.0.6.9").size(), 0u);
}

TEST_F(ChatRouting, TheOperatorsLineGoesToTheSelectedViewerOnly) {
    const int row = RowOf(b);
    server.list.ListView2SelectItem(row);
    server.view.MarkSelected(row);
    std::string input = "hello";
    server.chat.SpeedButton15Click(input);
    EXPECT_EQ(input, "");
    ASSERT_TRUE(b_chat->WaitFor(server.pump(), [&](const std::string&) { return !ChatLines(*b_chat).empty(); }, 10s));
    Settle();
    // 14 bytes of text with its line feed: 0E 00 01 FF on the wire.
    const std::string body = b_chat->Body();
    EXPECT_NE(body.find(std::string("\x0E\x00\x01\xFF", 4) + "Server: hello\n"), std::string::npos);
    EXPECT_EQ(ChatLines(*b_chat), (std::vector<std::string>{"Server: hello\n"}));
    EXPECT_TRUE(ChatLines(*a_chat).empty());
    EXPECT_TRUE(ChatLines(*c_chat).empty());
    EXPECT_EQ(History(server, b), "Server: hello\n");
    EXPECT_EQ(History(server, a), "");
    EXPECT_EQ(server.view.chat_lines, (std::vector<std::string>{"Server: hello"}));
}

TEST_F(ChatRouting, SendWithAnEmptyLineOrNoSelectedRowSendsNothing) {
    server.view.MarkSelected(RowOf(a));
    std::string empty;
    const int repaints = server.view.repaints;
    server.chat.SpeedButton15Click(empty);
    EXPECT_EQ(server.view.repaints, repaints) << "an empty line does nothing at all";

    server.view.MarkSelected(-1);
    std::string kept = "not sent";
    server.chat.SpeedButton15Click(kept);
    EXPECT_EQ(kept, "not sent");
    Settle();
    for (Client* chat : {a_chat.get(), b_chat.get(), c_chat.get()}) {
        EXPECT_TRUE(ChatLines(*chat).empty());
    }
    for (CContact* contact : {a, b, c}) {
        EXPECT_EQ(History(server, contact), "");
    }
}

TEST_F(ChatRouting, ClearEmptiesTheSelectedViewersHistoryAndQueuesNothing) {
    const int row = RowOf(a);
    server.list.ListView2SelectItem(row);
    server.view.MarkSelected(row);
    std::string line = "first";
    server.chat.SpeedButton15Click(line);
    ASSERT_TRUE(a_chat->WaitFor(server.pump(), [&](const std::string&) { return ChatLines(*a_chat).size() == 1; }, 10s));
    {
        std::lock_guard guard(server.contacts);
        b->ChatHistory = "kept";
    }
    server.chat.SpeedButton16Click();
    EXPECT_EQ(History(server, a), "");
    EXPECT_EQ(History(server, b), "kept");
    EXPECT_TRUE(server.view.chat_lines.empty());
    Settle();
    EXPECT_EQ(ChatLines(*a_chat), (std::vector<std::string>{"Server: first\n"})) << "clear queued a packet";
}

TEST_F(ChatRouting, WhenTheChatTargetLeavesTheFirstRowBecomesTheTarget) {
    server.list.ListView2SelectItem(RowOf(c));
    ASSERT_EQ(server.list.ChatTarget(), c);
    auto connection = server.ConnectionOf(*c_chat);
    ASSERT_NE(connection, nullptr);
    c_chat->Close();
    // The chat stream notices the loss when a send fails; give it lines to send.
    const std::string ping = "ping\n";
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (c->IsOnline() && std::chrono::steady_clock::now() < deadline) {
        connection->Queue.PutFrame(reinterpret_cast<const std::uint8_t*>(ping.data()), 5, 1, kKindChatRecord);
        server.PumpFor(20ms);
    }
    ASSERT_FALSE(c->IsOnline());
    ASSERT_TRUE(server.PumpUntil([&] { return server.view.row_count == 2; }, 5s));
    EXPECT_EQ(server.list.ChatTarget(), a);
    EXPECT_EQ(server.view.selected, 0);
    EXPECT_EQ(server.list.RowAddress(0), "127.0.6.1");
    EXPECT_EQ(server.list.RowAddress(1), "127.0.6.2");
}

}  // namespace
}  // namespace halvora::spine
