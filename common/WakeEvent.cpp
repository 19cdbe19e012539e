#include "common/WakeEvent.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace halvora {
namespace {

long Futex(std::atomic<std::uint32_t>* word, int op, std::uint32_t value, const timespec* timeout) {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    return ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), op, value, timeout, nullptr, 0);
}

}  // namespace

void WakeEvent::Wait(std::uint32_t seen, std::optional<std::chrono::milliseconds> timeout) {
    waiters_.fetch_add(1, std::memory_order_seq_cst);
    if (sequence_.load(std::memory_order_seq_cst) == seen) {
        timespec ts{};
        const timespec* limit = nullptr;
        if (timeout) {
            const auto ms = timeout->count() < 0 ? 0 : timeout->count();
            ts.tv_sec = static_cast<time_t>(ms / 1000);
            ts.tv_nsec = static_cast<long>((ms % 1000) * 1000000);
            limit = &ts;
        }
        // A spurious return (EINTR, or a wake meant for an earlier round) only
        // makes the caller look at its work once more.
        Futex(&sequence_, FUTEX_WAIT_PRIVATE, seen, limit);
    }
    waiters_.fetch_sub(1, std::memory_order_seq_cst);
}

void WakeEvent::Notify() {
    sequence_.fetch_add(1, std::memory_order_seq_cst);
    if (waiters_.load(std::memory_order_seq_cst) != 0) {
        Futex(&sequence_, FUTEX_WAKE_PRIVATE, 1, nullptr);
    }
}

void WakeEvent::NotifyAll() {
    sequence_.fetch_add(1, std::memory_order_seq_cst);
    if (waiters_.load(std::memory_order_seq_cst) != 0) {
        Futex(&sequence_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
    }
}

}  // namespace halvora
