#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>

namespace halvora {

// A wake-up signal for one consumer thread, on the kernel's futex directly.
// Connection threads sleep on it until a producer pushes a record; with ten
// thousand of them, a condition variable's internal lock and mutex hand-offs
// cost more than the sends themselves.
//
//   const auto seen = event.Prepare();
//   if (nothing to do) event.Wait(seen, timeout);   // consumer
//   ...make work available...; event.Notify();      // producer
//
// Work made available after Prepare() is never missed: Wait returns at once
// when a Notify came in between.
class WakeEvent {
public:
    std::uint32_t Prepare() const { return sequence_.load(std::memory_order_seq_cst); }
    // Sleeps until Notify (after the Prepare that returned seen) or the timeout.
    void Wait(std::uint32_t seen, std::optional<std::chrono::milliseconds> timeout);
    void Notify();
    void NotifyAll();

private:
    std::atomic<std::uint32_t> sequence_{0};
    std::atomic<std::uint32_t> waiters_{0};
};

}  // namespace halvora
