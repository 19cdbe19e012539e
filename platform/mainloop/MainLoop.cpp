#include "platform/mainloop/MainLoop.h"

#include <exception>
#include <future>
#include <vector>

namespace halvora {

MainLoop::MainLoop() : main_id_(std::this_thread::get_id()) {}

MainLoop::~MainLoop() = default;

void MainLoop::AdoptCurrentThread() { main_id_ = std::this_thread::get_id(); }

bool MainLoop::IsMainThread() const { return std::this_thread::get_id() == main_id_.load(); }

void MainLoop::Post(std::function<void()> fn) {
    {
        std::lock_guard guard(mutex_);
        calls_.push_back(std::move(fn));
    }
    wake_.notify_one();
}

void MainLoop::RunBlocking(const std::function<void()>& fn) {
    if (IsMainThread()) {
        fn();
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> result = done->get_future();
    {
        std::lock_guard guard(mutex_);
        if (stopped_) {
            return;
        }
        calls_.push_back([fn, done] {
            try {
                fn();
                done->set_value();
            } catch (...) {
                done->set_exception(std::current_exception());
            }
        });
    }
    wake_.notify_one();
    result.get();
}

MainLoop::TimerId MainLoop::AddTimer(std::chrono::milliseconds interval, std::function<void()> on_tick) {
    std::lock_guard guard(mutex_);
    const TimerId id = next_timer_++;
    timers_[id] = Timer{interval, std::move(on_tick), false, Clock::now() + interval};
    return id;
}

void MainLoop::SetTimerEnabled(TimerId id, bool enabled) {
    {
        std::lock_guard guard(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.enabled == enabled) {
            return;
        }
        it->second.enabled = enabled;
        if (enabled) {
            it->second.due = Clock::now() + it->second.interval;
        }
    }
    wake_.notify_one();
}

bool MainLoop::TimerEnabled(TimerId id) const {
    std::lock_guard guard(mutex_);
    auto it = timers_.find(id);
    return it != timers_.end() && it->second.enabled;
}

void MainLoop::SetTimerInterval(TimerId id, std::chrono::milliseconds interval) {
    std::lock_guard guard(mutex_);
    auto it = timers_.find(id);
    if (it != timers_.end()) {
        it->second.interval = interval;
        it->second.due = Clock::now() + interval;
    }
}

void MainLoop::RunOnce(Clock::time_point deadline) {
    std::vector<std::function<void()>> ready;
    {
        std::unique_lock lock(mutex_);
        auto next_due = [&] {
            Clock::time_point next = deadline;
            for (const auto& [id, t] : timers_) {
                if (t.enabled && t.due < next) {
                    next = t.due;
                }
            }
            return next;
        };
        wake_.wait_until(lock, next_due(), [&] { return quit_ || !calls_.empty(); });
        while (!calls_.empty()) {
            ready.push_back(std::move(calls_.front()));
            calls_.pop_front();
        }
        const auto now = Clock::now();
        for (auto& [id, t] : timers_) {
            if (t.enabled && t.due <= now) {
                // A late tick does not queue up extra ticks, as with toolkit timers.
                t.due = now + t.interval;
                const TimerId tid = id;
                ready.push_back([this, tid] {
                    std::function<void()> tick;
                    {
                        std::lock_guard guard(mutex_);
                        auto it = timers_.find(tid);
                        if (it == timers_.end() || !it->second.enabled) {
                            return;  // disabled by an earlier call of this round
                        }
                        tick = it->second.on_tick;
                    }
                    tick();
                });
            }
        }
    }
    for (auto& call : ready) {
        call();
    }
}

void MainLoop::Run() {
    AdoptCurrentThread();
    for (;;) {
        {
            std::lock_guard guard(mutex_);
            if (quit_) {
                break;
            }
        }
        RunOnce(Clock::now() + std::chrono::milliseconds(500));
    }
    // Calls handed over before the quit still run, so no connection thread stays
    // blocked in RunBlocking; later ones are refused.
    std::deque<std::function<void()>> rest;
    {
        std::lock_guard guard(mutex_);
        stopped_ = true;
        rest.swap(calls_);
    }
    for (auto& call : rest) {
        call();
    }
}

bool MainLoop::RunUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!pred()) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return pred();
        }
        RunOnce(std::min(deadline, now + std::chrono::milliseconds(10)));
    }
    return true;
}

bool MainLoop::ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    if (IsMainThread()) {
        return RunUntil(done, timeout);
    }
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void MainLoop::Quit() {
    {
        std::lock_guard guard(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

}  // namespace halvora
