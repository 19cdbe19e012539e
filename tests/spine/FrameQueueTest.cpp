#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

#include "common/PacketHeader.h"
#include "common/WakeEvent.h"
#include "media/CFrameFIFO.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

// A record whose payload is its sequence number, so order can be checked.
bool PutNumbered(CFrameFIFO& q, std::uint32_t n, std::uint8_t key = 1, int kind = pkVideo) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &n, 4);
    return q.PutFrame(bytes, 4, key, kind);
}

std::uint32_t NumberOf(const FrameRecord& r) {
    std::uint32_t n = 0;
    std::memcpy(&n, r.Data.get(), 4);
    return n;
}

TEST(FrameQueue, CapacityFiftyHoldsFortyNineAndTheFiftiethIsRefused) {
    CFrameFIFO q(50);
    for (std::uint32_t i = 0; i < 49; ++i) {
        ASSERT_TRUE(PutNumbered(q, i, 0)) << i;
    }
    EXPECT_TRUE(q.IsFull());
    EXPECT_FALSE(q.WaitKey());
    EXPECT_FALSE(PutNumbered(q, 49, 1));
    EXPECT_EQ(q.Count(), 49);
    EXPECT_TRUE(q.WaitKey());
    // Nothing of the refused record got in: the last record is still number 48.
    std::uint32_t last = 0;
    while (auto r = q.Pop()) {
        last = NumberOf(*r);
    }
    EXPECT_EQ(last, 48u);
}

TEST(FrameQueue, KeyWaitDropsNonKeyRecordsUntilAKeyRecordIsStored) {
    CFrameFIFO q(4);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(PutNumbered(q, i, 0));
    }
    EXPECT_FALSE(PutNumbered(q, 3, 0));  // full: the wait begins
    ASSERT_TRUE(q.WaitKey());
    ASSERT_NE(q.Pop(), nullptr);  // room again

    EXPECT_TRUE(PutNumbered(q, 4, 0)) << "a dropped non-key record still reports success";
    EXPECT_EQ(q.Count(), 2);
    EXPECT_TRUE(q.WaitKey());

    EXPECT_TRUE(PutNumbered(q, 5, 1));
    EXPECT_EQ(q.Count(), 3);
    EXPECT_FALSE(q.WaitKey());

    ASSERT_NE(q.Pop(), nullptr);
    EXPECT_TRUE(PutNumbered(q, 6, 0));  // admitted again after the key record
    std::vector<std::uint32_t> order;
    while (auto r = q.Pop()) {
        order.push_back(NumberOf(*r));
    }
    EXPECT_EQ(order, (std::vector<std::uint32_t>{2, 5, 6}));
}

TEST(FrameQueue, WhileFullEvenKeyRecordsAreRefused) {
    CFrameFIFO q(3);
    ASSERT_TRUE(PutNumbered(q, 0));
    ASSERT_TRUE(PutNumbered(q, 1));
    for (std::uint32_t i = 2; i < 6; ++i) {
        EXPECT_FALSE(PutNumbered(q, i, 1));
        EXPECT_FALSE(PutNumbered(q, i, 0));
    }
    EXPECT_EQ(q.Count(), 2);
}

TEST(FrameQueue, AChatRecordIsAKeyRecordAndEndsTheKeyWait) {
    CFrameFIFO q(2);
    ASSERT_TRUE(PutNumbered(q, 0, 0));
    EXPECT_FALSE(PutNumbered(q, 1, 0));
    ASSERT_TRUE(q.WaitKey());
    ASSERT_NE(q.Pop(), nullptr);
    const std::string line = "ann: hi\n";
    EXPECT_TRUE(q.PutFrame(reinterpret_cast<const std::uint8_t*>(line.data()), static_cast<std::uint32_t>(line.size()),
                           1, kKindChatRecord));
    EXPECT_FALSE(q.WaitKey());
    auto r = q.Pop();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Kind, -1);
    EXPECT_EQ(r->KeyFlag, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r->Data.get()), r->Size), line);
}

TEST(FrameQueue, PopOfAnEmptyQueueReturnsNullAndChangesNothing) {
    CFrameFIFO q(5);
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Pop(), nullptr);
    EXPECT_EQ(q.Count(), 0);
    ASSERT_TRUE(PutNumbered(q, 7));
    EXPECT_EQ(NumberOf(*q.Pop()), 7u);
    EXPECT_EQ(q.Pop(), nullptr);
    EXPECT_TRUE(q.IsEmpty());
}

TEST(FrameQueue, OrderIsKeptAcrossManyWrapsOfTheRing) {
    CFrameFIFO q(5);
    std::uint32_t next_in = 0;
    std::uint32_t next_out = 0;
    // Push three, take two, for many rounds, then drain: both indexes wrap many
    // times at different phases.
    for (int round = 0; round < 40; ++round) {
        for (int i = 0; i < 3 && !q.IsFull(); ++i) {
            ASSERT_TRUE(PutNumbered(q, next_in++));
        }
        for (int i = 0; i < 2; ++i) {
            auto r = q.Pop();
            ASSERT_NE(r, nullptr);
            ASSERT_EQ(NumberOf(*r), next_out++);
        }
    }
    while (auto r = q.Pop()) {
        ASSERT_EQ(NumberOf(*r), next_out++);
    }
    EXPECT_EQ(next_in, next_out);
    EXPECT_GT(next_in, 10u * 5u);
}

TEST(FrameQueue, CapacityOneIsAlwaysFull) {
    CFrameFIFO q(1);
    EXPECT_TRUE(q.IsFull());
    for (std::uint8_t key : {0, 1, 1}) {
        EXPECT_FALSE(PutNumbered(q, 1, key));
    }
    EXPECT_EQ(q.Pop(), nullptr);
    EXPECT_EQ(q.Count(), 0);
}

TEST(FrameQueue, ThePayloadIsCopiedAndTheRecordKeepsSizeKeyAndKind) {
    CFrameFIFO q(4);
    std::vector<std::uint8_t> buffer(300);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
        buffer[i] = static_cast<std::uint8_t>(i * 7);
    }
    const std::vector<std::uint8_t> original = buffer;
    ASSERT_TRUE(q.PutFrame(buffer.data(), 300, 0, pkAudio));
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    buffer.clear();
    buffer.shrink_to_fit();
    auto r = q.Pop();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Size, 300u);
    EXPECT_EQ(r->KeyFlag, 0);
    EXPECT_EQ(r->Kind, pkAudio);
    EXPECT_EQ(std::vector<std::uint8_t>(r->Data.get(), r->Data.get() + r->Size), original);
}

TEST(FrameQueue, APayloadTooLongForAPacketIsRefusedAndTheLongestOneFits) {
    CFrameFIFO q(4);
    std::vector<std::uint8_t> big(65536, 0x5A);
    EXPECT_FALSE(q.PutFrame(big.data(), 65536, 1, pkVideo));
    EXPECT_FALSE(q.PutFrame(big.data(), 1000000, 1, pkVideo)) << "a size beyond the buffer must not be read";
    EXPECT_EQ(q.Count(), 0);
    big[65534] = 0x11;
    EXPECT_TRUE(q.PutFrame(big.data(), 65535, 1, pkVideo));
    auto r = q.Pop();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Size, 65535u);
    EXPECT_EQ(r->Data[65534], 0x11);
}

TEST(FrameQueue, ResetEmptiesTheRing) {
    CFrameFIFO q(4);
    ASSERT_TRUE(PutNumbered(q, 1));
    ASSERT_TRUE(PutNumbered(q, 2));
    q.Reset();
    EXPECT_TRUE(q.IsEmpty());
    EXPECT_EQ(q.Pop(), nullptr);
    ASSERT_TRUE(PutNumbered(q, 3));
    EXPECT_EQ(NumberOf(*q.Pop()), 3u);
}

TEST(FrameQueueWait, ARecordPushedFromAnotherThreadEndsAnUnlimitedWait) {
    CFrameFIFO q(4);
    auto waiter = std::async(std::launch::async, [&q] { q.WaitForRecord(); });
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(PutNumbered(q, 1));
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "the wait did not end on a push";
    EXPECT_FALSE(q.IsEmpty());
}

TEST(FrameQueueWait, ARecordPushedFromAnotherThreadEndsALongTimedWaitEarly) {
    CFrameFIFO q(4);
    std::atomic<bool> pushed{false};
    const auto start = std::chrono::steady_clock::now();
    std::thread producer([&] {
        std::this_thread::sleep_for(50ms);
        pushed = PutNumbered(q, 1);
    });
    q.WaitForRecord(60s);
    const auto waited = std::chrono::steady_clock::now() - start;
    producer.join();
    EXPECT_TRUE(pushed.load());
    EXPECT_LT(waited, 30s);
    EXPECT_FALSE(q.IsEmpty());
}

TEST(FrameQueueWait, InterruptEndsTheCurrentWaitAndEveryLaterOne) {
    CFrameFIFO q(4);
    auto waiter = std::async(std::launch::async, [&q] { q.WaitForRecord(); });
    std::this_thread::sleep_for(50ms);
    q.Interrupt();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "Interrupt did not end the wait";
    auto later = std::async(std::launch::async, [&q] { q.WaitForRecord(); });
    ASSERT_EQ(later.wait_for(10s), std::future_status::ready);
}

TEST(FrameQueueWait, AWaitOnAnEmptyQueueLastsItsTimeAndAWaitOnAFullOneReturnsAtOnce) {
    CFrameFIFO q(4);
    auto start = std::chrono::steady_clock::now();
    q.WaitForRecord(100ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
    ASSERT_TRUE(PutNumbered(q, 1));
    start = std::chrono::steady_clock::now();
    q.WaitForRecord(60s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST(FrameQueueWait, AQueueSharingAWakeUpIsWokenByTheSharedNotify) {
    WakeEvent shared;
    CFrameFIFO q(4);
    q.ShareWakeEvent(&shared);
    auto waiter = std::async(std::launch::async, [&q] { q.WaitForRecord(); });
    std::this_thread::sleep_for(50ms);
    // A producer that fills many queues stores without waking, then wakes them all.
    ASSERT_TRUE(q.PutFrame(reinterpret_cast<const std::uint8_t*>("abcd"), 4, 1, pkVideo, CFrameFIFO::Wake::Deferred));
    shared.NotifyAll();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "the shared wake-up did not end the wait";
    EXPECT_FALSE(q.IsEmpty());
}

TEST(FrameQueueWait, InterruptEndsTheWaitOfAQueueSharingAWakeUp) {
    WakeEvent shared;
    CFrameFIFO q(4);
    CFrameFIFO other(4);
    q.ShareWakeEvent(&shared);
    other.ShareWakeEvent(&shared);
    auto waiter = std::async(std::launch::async, [&q] { q.WaitForRecord(); });
    auto other_waiter = std::async(std::launch::async, [&other] { other.WaitForRecord(60s); });
    std::this_thread::sleep_for(50ms);
    q.Interrupt();
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "Interrupt did not end the wait";
    other.Interrupt();
    ASSERT_EQ(other_waiter.wait_for(10s), std::future_status::ready);
}

TEST(WakeEventTest, ANotifyAfterPrepareIsNeverMissed) {
    WakeEvent event;
    const auto seen = event.Prepare();
    event.Notify();
    auto waiter = std::async(std::launch::async, [&] { event.Wait(seen, std::nullopt); });
    ASSERT_EQ(waiter.wait_for(10s), std::future_status::ready) << "a wake-up given before the wait was lost";
}

TEST(WakeEventTest, NotifyAllWakesEveryWaiter) {
    WakeEvent event;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    std::atomic<int> ready{0};
    std::atomic<bool> done{false};
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            ++ready;
            // Wait until this thread sees the round end; spurious returns just look again.
            while (!done.load()) {
                const auto seen = event.Prepare();
                if (done.load()) {
                    break;
                }
                event.Wait(seen, std::nullopt);
            }
            ++woken;
        });
    }
    while (ready.load() < 4) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(50ms);
    done = true;
    event.NotifyAll();
    auto joined = std::async(std::launch::async, [&] {
        for (auto& t : waiters) {
            t.join();
        }
    });
    const bool all_woke = joined.wait_for(10s) == std::future_status::ready;
    EXPECT_TRUE(all_woke) << woken.load() << " of 4 woke";
    // Let a waiter that missed its wake-up go, so the test can end.
    while (joined.wait_for(10ms) != std::future_status::ready) {
        event.NotifyAll();
    }
    EXPECT_EQ(woken.load(), 4);
}

TEST(FrameQueueWait, ManyProducersAndOneConsumerKeepEachProducersOrder) {
    CFrameFIFO q(50);
    constexpr int kProducers = 3;
    constexpr std::uint32_t kEach = 3000;
    std::atomic<int> running{kProducers};
    std::vector<std::uint32_t> stored(kProducers, 0);
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (std::uint32_t i = 0; i < kEach; ++i) {
                // Key records only: a refusal means "full", so every true is stored.
                if (PutNumbered(q, (static_cast<std::uint32_t>(p) << 24) | i, 1)) {
                    ++stored[static_cast<std::size_t>(p)];
                }
                if (i % 64 == 0) {
                    std::this_thread::yield();
                }
            }
            --running;
        });
    }
    std::vector<std::uint32_t> popped;
    for (;;) {
        auto r = q.Pop();
        if (!r) {
            if (running.load() == 0 && q.IsEmpty()) {
                break;
            }
            q.WaitForRecord(5ms);
            continue;
        }
        popped.push_back(NumberOf(*r));
    }
    for (auto& t : producers) {
        t.join();
    }
    std::vector<std::int64_t> last(kProducers, -1);
    std::vector<std::uint32_t> received(kProducers, 0);
    for (const std::uint32_t n : popped) {
        const auto p = static_cast<std::size_t>(n >> 24);
        ASSERT_LT(p, static_cast<std::size_t>(kProducers));
        ASSERT_GT(static_cast<std::int64_t>(n & 0xFFFFFF), last[p]) << "producer " << p << " out of order";
        last[p] = n & 0xFFFFFF;
        ++received[p];
    }
    EXPECT_EQ(received, stored);
}

}  // namespace
}  // namespace halvora
