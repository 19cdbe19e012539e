#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "common/MainThread.h"

namespace halvora {

// The main-thread loop for running without a window: a queue of calls handed
// over by other threads, and interval timers, all run on the one thread that
// calls Run(). It stands in for the window toolkit's message loop.
class MainLoop : public IMainThread {
public:
    using TimerId = int;

    MainLoop();
    ~MainLoop() override;

    // Runs queued calls and due timers until Quit(). The calling thread becomes
    // the main thread.
    void Run();
    // Runs queued calls and due timers until pred() is true or timeout passes;
    // returns pred(). For tests and for shutdown, which must keep serving
    // blocking calls while it waits for connection threads.
    bool RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
    // Makes Run() return after the call it is running. Safe from any thread and
    // from a signal-watching thread.
    void Quit();

    // Marks the calling thread as the main thread without running the loop
    // (tests that drive the loop with RunUntil from their own thread).
    void AdoptCurrentThread();

    void RunBlocking(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;
    bool IsMainThread() const override;
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override;

    // Interval timers, like the toolkit's: a disabled timer does not tick; enabling
    // a running timer keeps its phase. Timer calls run on the main thread.
    TimerId AddTimer(std::chrono::milliseconds interval, std::function<void()> on_tick);
    void SetTimerEnabled(TimerId id, bool enabled);
    bool TimerEnabled(TimerId id) const;
    void SetTimerInterval(TimerId id, std::chrono::milliseconds interval);

private:
    using Clock = std::chrono::steady_clock;
    struct Timer {
        std::chrono::milliseconds interval;
        std::function<void()> on_tick;
        bool enabled = false;
        Clock::time_point due;
    };

    // Runs everything that is ready; waits at most until deadline for more.
    void RunOnce(Clock::time_point deadline);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> calls_;
    std::map<TimerId, Timer> timers_;
    TimerId next_timer_ = 1;
    bool quit_ = false;
    bool stopped_ = false;  // Run() has returned: blocking calls are refused
    std::atomic<std::thread::id> main_id_;
};

}  // namespace halvora
