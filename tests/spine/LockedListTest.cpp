#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/CMultiThreadList.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

// Whether another thread can take the list's lock within a generous time. If it
// cannot, the lock leaked on this thread: give it back so the test can end.
bool LockFreeForOtherThreads(CMultiThreadList<int>& list, int leaked_depth_to_release = 8) {
    auto other = std::async(std::launch::async, [&list] {
        list.Lock();
        list.Unlock();
    });
    if (other.wait_for(5s) == std::future_status::ready) {
        return true;
    }
    for (int i = 0; i < leaked_depth_to_release && other.wait_for(0s) != std::future_status::ready; ++i) {
        list.Unlock();
        other.wait_for(100ms);
    }
    other.wait();
    return false;
}

std::vector<int*> Entries(CMultiThreadList<int>& list) {
    std::lock_guard guard(list);
    std::vector<int*> out;
    for (int i = 0; i < list.Count(); ++i) {
        out.push_back(list.Items(i));
    }
    return out;
}

TEST(LockedList, EmptyListCountsZeroAndExtractOfAbsentPointerChangesNothing) {
    CMultiThreadList<int> list;
    int a = 1, b = 2;
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Extract(&a), nullptr);
    list.Add(&a);
    EXPECT_EQ(list.Extract(&b), nullptr);
    EXPECT_EQ(Entries(list), (std::vector<int*>{&a}));
}

TEST(LockedList, AddAppendsInOrderAndDeleteMovesLaterEntriesDown) {
    CMultiThreadList<int> list;
    int v[4] = {0, 1, 2, 3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(list.Add(&v[i]), i);
    }
    list.Delete(1);
    EXPECT_EQ(Entries(list), (std::vector<int*>{&v[0], &v[2], &v[3]}));
    list.Delete(2);
    EXPECT_EQ(Entries(list), (std::vector<int*>{&v[0], &v[2]}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

TEST(LockedList, ExtractOfADuplicateRemovesOnlyTheFirstEntry) {
    CMultiThreadList<int> list;
    int a = 1, b = 2;
    list.Add(&a);
    list.Add(&b);
    list.Add(&a);
    EXPECT_EQ(list.Extract(&a), &a);
    EXPECT_EQ(Entries(list), (std::vector<int*>{&b, &a}));
    EXPECT_EQ(list.Extract(&a), &a);
    EXPECT_EQ(list.Extract(&a), nullptr);
    EXPECT_EQ(Entries(list), (std::vector<int*>{&b}));
}

struct BadIndexCase {
    int size;
    int index;
};

class LockedListBadIndex : public ::testing::TestWithParam<BadIndexCase> {};

TEST_P(LockedListBadIndex, DeleteThrowsAndLeavesTheLockFree) {
    CMultiThreadList<int> list;
    std::vector<int> values(static_cast<std::size_t>(GetParam().size));
    for (int& v : values) {
        list.Add(&v);
    }
    EXPECT_THROW(list.Delete(GetParam().index), std::out_of_range);
    EXPECT_EQ(list.Count(), GetParam().size);
    EXPECT_TRUE(LockFreeForOtherThreads(list));
}

TEST_P(LockedListBadIndex, DeleteInsideAHeldLockThrowsAndOnlyTheCallersHoldRemains) {
    CMultiThreadList<int> list;
    std::vector<int> values(static_cast<std::size_t>(GetParam().size));
    for (int& v : values) {
        list.Add(&v);
    }
    list.Lock();
    EXPECT_THROW(list.Delete(GetParam().index), std::out_of_range);
    list.Unlock();
    EXPECT_TRUE(LockFreeForOtherThreads(list));
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, LockedListBadIndex,
                         ::testing::Values(BadIndexCase{0, 0}, BadIndexCase{0, -1}, BadIndexCase{3, 3},
                                           BadIndexCase{3, -1}, BadIndexCase{3, 1000}));

TEST(LockedList, HolderOfTheLockCanCallEveryOperationAndTheLockIsFreeAfterItsUnlock) {
    CMultiThreadList<int> list;
    int a = 1, b = 2, c = 3;
    list.Lock();
    list.Lock();  // a walk nested in another walk
    list.Add(&a);
    list.Add(&b);
    list.Add(&c);
    EXPECT_EQ(list.Count(), 3);
    list.Delete(0);
    EXPECT_EQ(list.Extract(&c), &c);
    EXPECT_EQ(list.Items(0), &b);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Unlock();
    list.Unlock();
    EXPECT_TRUE(LockFreeForOtherThreads(list));
}

TEST(LockedList, AnotherThreadsAddWaitsUntilTheWalkReleasesTheLock) {
    CMultiThreadList<int> list;
    int a = 1, b = 2;
    list.Add(&a);
    std::atomic<bool> added{false};
    list.Lock();
    std::thread other([&] {
        list.Add(&b);
        added = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(added.load()) << "Add went through while another thread held the lock";
    EXPECT_EQ(list.Count(), 1);
    list.Unlock();
    other.join();
    EXPECT_TRUE(added.load());
    EXPECT_EQ(Entries(list), (std::vector<int*>{&a, &b}));
}

TEST(LockedList, ConcurrentAddsAndExtractsLoseNothing) {
    CMultiThreadList<int> list;
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    std::vector<std::vector<int>> values(kThreads, std::vector<int>(kPerThread));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                list.Add(&values[t][i]);
                if (i % 2 == 1) {
                    // Every odd entry is taken out again by its own thread.
                    ASSERT_EQ(list.Extract(&values[t][i]), &values[t][i]);
                }
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    ASSERT_EQ(list.Count(), kThreads * kPerThread / 2);
    const auto entries = Entries(list);
    for (int t = 0; t < kThreads; ++t) {
        // Each thread's even entries, in the order that thread added them.
        std::vector<int*> mine;
        for (int* p : entries) {
            if (p >= values[t].data() && p < values[t].data() + kPerThread) {
                mine.push_back(p);
            }
        }
        ASSERT_EQ(mine.size(), static_cast<std::size_t>(kPerThread / 2));
        for (int i = 0; i < kPerThread / 2; ++i) {
            EXPECT_EQ(mine[static_cast<std::size_t>(i)], &values[t][2 * i]);
        }
    }
}

}  // namespace
}  // namespace halvora
