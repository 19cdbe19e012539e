#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/spine/LiveServer.h"
#include "tests/spine/ReplyExpectations.h"
#include "viewers/CContact.h"
#include "viewers/ContactsFile.h"

namespace halvora::spine {
namespace {

using namespace std::chrono_literals;

bool HeaderDone(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos; }

bool HasThread(CContact* c, TMyServerSendThread* t) {
    std::lock_guard guard(c->Threads);
    for (int i = 0; i < c->Threads.Count(); ++i) {
        if (c->Threads.Items(i) == t) {
            return true;
        }
    }
    return false;
}

TEST(StreamContacts, TheFirstStreamFromAnAddressMakesAnOnlineGuestContact) {
    LiveServer server;
    auto chat = server.OpenStream("chat", "127.0.4.1");
    ASSERT_TRUE(HeaderDone(chat->Received()));
    auto connection = server.ConnectionOf(*chat);
    ASSERT_NE(connection, nullptr);
    const auto found = server.ContactsAt("127.0.4.1");
    ASSERT_EQ(found.size(), 1u);
    CContact* c = found[0];
    {
        std::lock_guard guard(server.contacts);
        EXPECT_EQ(c->Name, "guest");
        EXPECT_EQ(c->Company, "unknown");
        EXPECT_EQ(c->Email, "unknown");
        EXPECT_EQ(c->Phone, "unknown");
        EXPECT_EQ(c->Interest, "unknown");
        EXPECT_EQ(c->ChatHistory, "");
        EXPECT_FALSE(c->Blocked);
    }
    EXPECT_TRUE(HasThread(c, connection.get()));
    // The main thread rebuilt the list: one row, selected, the new chat target.
    ASSERT_TRUE(server.PumpUntil([&] { return server.view.row_count == 1; }, 5s));
    EXPECT_EQ(server.view.selected, 0);
    EXPECT_EQ(server.list.ChatTarget(), c);
    EXPECT_GE(server.selection_saves, 1);
    EXPECT_EQ(server.list.RowAddress(0), "127.0.4.1");
}

TEST(StreamContacts, ASecondStreamFromTheSameAddressJoinsTheSameContactAndRow) {
    LiveServer server;
    auto chat = server.OpenStream("chat", "127.0.4.2");
    auto av = server.OpenStream("audiovideo", "127.0.4.2");
    ASSERT_TRUE(HeaderDone(av->Received()));
    const auto found = server.ContactsAt("127.0.4.2");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->Threads.Count(), 2);
    ASSERT_TRUE(server.PumpUntil([&] { return server.view.row_count == 1 && server.host.refreshes >= 2; }, 5s));
    EXPECT_EQ(server.list.OnlineRows().size(), 1u);
}

TEST(StreamContacts, TwoStreamsOpenedAtOnceFromANewAddressShareOneContact) {
    LiveServer server;
    std::vector<std::unique_ptr<Client>> keep;
    for (int round = 0; round < 30; ++round) {
        const std::string from = "127.0.5." + std::to_string(round + 1);
        auto a = server.Connect(from);
        auto b = server.Connect(from);
        // Both threads are waiting for their request before either arrives.
        ASSERT_NE(server.ConnectionOf(*a), nullptr);
        ASSERT_NE(server.ConnectionOf(*b), nullptr);
        a->Send("GET /chat HTTP/1.0\r\n\r\n");
        b->Send("GET /audiovideo HTTP/1.0\r\n\r\n");
        ASSERT_TRUE(a->WaitFor(server.pump(), HeaderDone, 10s));
        ASSERT_TRUE(b->WaitFor(server.pump(), HeaderDone, 10s));
        const auto found = server.ContactsAt(from);
        ASSERT_EQ(found.size(), 1u) << "round " << round;
        EXPECT_EQ(found[0]->Threads.Count(), 2) << "round " << round;
        keep.push_back(std::move(a));
        keep.push_back(std::move(b));
    }
}

TEST(StreamContacts, AConnectionJoinsTheFirstOfTwoContactsWithItsAddress) {
    LiveServer server;
    CContact* first = server.contacts.Adopt(std::make_unique<CContact>("registration&name=first", "127.0.4.9"));
    CContact* second = server.contacts.Adopt(std::make_unique<CContact>("registration&name=second", "127.0.4.9"));
    auto chat = server.OpenStream("chat", "127.0.4.9");
    ASSERT_TRUE(HeaderDone(chat->Received()));
    EXPECT_EQ(first->Threads.Count(), 1);
    EXPECT_EQ(second->Threads.Count(), 0);
    EXPECT_EQ(server.contacts.Count(), 2);
}

TEST(StreamContacts, AViewerThatResetsRightAfterItsStreamRequestLeavesNoNamelessContact) {
    LiveServer server;
    // The reset must land after the server has read the request and before it
    // attaches the stream: try a few delays, a few times each.
    for (int round = 0; round < 24; ++round) {
        auto viewer = server.Connect("127.0.4.10");
        ASSERT_NE(server.ConnectionOf(*viewer), nullptr);
        viewer->Send("GET /chat HTTP/1.0\r\n\r\n");
        std::this_thread::sleep_for(std::chrono::microseconds(500 * (round % 8)));
        viewer->Close(/*abortive=*/true);
        ASSERT_TRUE(server.PumpUntil([&] { return server.server->LiveThreads() == 0; }, 20s));
    }
    EXPECT_TRUE(server.ContactsAt("").empty()) << "a contact was made for a peer whose address could not be read";
    EXPECT_LE(server.ContactsAt("127.0.4.10").size(), 1u);
}

TEST(Registration, UpdatesTheFiveValuesAndRewritesTheContactsFile) {
    LiveServer server;
    auto chat = server.OpenStream("chat", "127.0.4.3");
    ASSERT_TRUE(HeaderDone(chat->Received()));
    auto hi = server.Request("GET /message?message=hi HTTP/1.0\r\n\r\n", "127.0.4.3");
    ASSERT_TRUE(hi->WaitForEof(server.pump(), 10s));
    EXPECT_FALSE(std::filesystem::exists(server.ContactsFile()));
    const int refreshes = server.host.refreshes;

    auto reg = server.Request(
        "GET /message?message=registration&name=%41nn&company=acme&email=ann@acme.example&phone=555-0100"
        "&interest=music+and+tv HTTP/1.0\r\n\r\n",
        "127.0.4.3");
    ASSERT_TRUE(reg->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(reg->Received(), kAcknowledgement);

    const auto found = server.ContactsAt("127.0.4.3");
    ASSERT_EQ(found.size(), 1u);
    {
        std::lock_guard guard(server.contacts);
        EXPECT_EQ(found[0]->Name, "Ann");
        EXPECT_EQ(found[0]->Company, "acme");
        EXPECT_EQ(found[0]->Email, "ann@acme.example");
        EXPECT_EQ(found[0]->Phone, "555-0100");
        EXPECT_EQ(found[0]->Interest, "music and tv");
        EXPECT_EQ(found[0]->Address, "127.0.4.3");
        EXPECT_EQ(found[0]->ChatHistory, "\nguest: hi");
    }
    EXPECT_TRUE(found[0]->IsOnline());
    EXPECT_TRUE(server.PumpUntil([&] { return server.host.refreshes > refreshes; }, 5s)) << "list not rebuilt";

    CContactList reloaded;
    LoadContacts(reloaded, server.ContactsFile());
    ASSERT_EQ(reloaded.Count(), 1);
    std::lock_guard guard(reloaded);
    EXPECT_EQ(reloaded.Items(0)->Name, "Ann");
    EXPECT_EQ(reloaded.Items(0)->Interest, "music and tv");
    EXPECT_EQ(reloaded.Items(0)->ChatHistory, "\nguest: hi");
    EXPECT_EQ(reloaded.Items(0)->Address, "127.0.4.3");
    for (const auto& entry : std::filesystem::directory_iterator(server.dir.Path())) {
        EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();
    }
}

TEST(Registration, FromAnAddressWithoutContactIsAcknowledgedAndChangesNothing) {
    LiveServer server;
    auto reg = server.Request("GET /message?message=registration&name=bob&company=x&email=y&phone=z&interest=w "
                              "HTTP/1.0\r\n\r\n",
                              "127.0.4.4");
    ASSERT_TRUE(reg->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(reg->Received(), kAcknowledgement);
    EXPECT_EQ(server.contacts.Count(), 0);
    EXPECT_FALSE(std::filesystem::exists(server.ContactsFile()));
}

class BlockedViewer : public ::testing::TestWithParam<std::string> {};

TEST_P(BlockedViewer, IsClosedWithoutAByteAndWithoutAttaching) {
    LiveServer server;
    auto blocked = std::make_unique<CContact>(CContact::kGuestRegistration, "127.0.4.5");
    blocked->Blocked = true;
    CContact* c = server.contacts.Adopt(std::move(blocked));
    auto viewer = server.Request(GetParam(), "127.0.4.5");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Received(), "");
    EXPECT_EQ(c->Threads.Count(), 0);
    EXPECT_EQ(server.contacts.Count(), 1);
    EXPECT_TRUE(server.host.messages.empty());

    auto other = server.Request("GET / HTTP/1.0\r\n\r\n", "127.0.4.6");
    ASSERT_TRUE(other->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(other->Body(), ExpectedAppletPage("127.0.0.1", server.Port()));
}

INSTANTIATE_TEST_SUITE_P(Requests, BlockedViewer,
                         ::testing::Values("GET / HTTP/1.0\r\n\r\n", "GET /chat HTTP/1.0\r\n\r\n",
                                           "GET /audiovideo HTTP/1.0\r\n\r\n", "GET /message?message=hi HTTP/1.0\r\n\r\n",
                                           "GET /client.jar HTTP/1.0\r\n\r\n"));

TEST(BlockedViewer, ReadFromTheContactsFileIsRefused) {
    LiveServer server;
    {
        CContactList table;
        auto c = std::make_unique<CContact>(CContact::kGuestRegistration, "127.0.4.7");
        c->Blocked = true;
        table.Adopt(std::move(c));
        SaveContacts(table, server.ContactsFile());
    }
    LoadContacts(server.contacts, server.ContactsFile());
    ASSERT_EQ(server.contacts.Count(), 1);
    auto viewer = server.Request("GET /chat HTTP/1.0\r\n\r\n", "127.0.4.7");
    ASSERT_TRUE(viewer->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(viewer->Received(), "");
}

TEST(HiddenWindow, MessagesAreAcknowledgedButNotPassedOnAndTheListIsNotRebuilt) {
    LiveServer server;
    server.host.visible = false;
    auto chat = server.OpenStream("chat", "127.0.4.8");
    ASSERT_TRUE(HeaderDone(chat->Received()));
    auto msg = server.Request("GET /message?message=hi HTTP/1.0\r\n\r\n", "127.0.4.8");
    ASSERT_TRUE(msg->WaitForEof(server.pump(), 10s));
    EXPECT_EQ(msg->Received(), kAcknowledgement);
    server.PumpFor(300ms);
    EXPECT_EQ(server.host.refreshes, 0);
    EXPECT_TRUE(server.host.messages.empty());
    chat->Poll();
    for (std::size_t at = 0; at + 4 <= chat->Body().size(); at += 12) {
        EXPECT_EQ(static_cast<unsigned char>(chat->Body()[at + 3]), 0) << "only status packets may arrive";
    }
    const auto found = server.ContactsAt("127.0.4.8");
    ASSERT_EQ(found.size(), 1u);
    std::lock_guard guard(server.contacts);
    EXPECT_EQ(found[0]->ChatHistory, "\nguest: hi");
}

}  // namespace
}  // namespace halvora::spine
