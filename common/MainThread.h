#pragma once

#include <chrono>
#include <functional>

namespace halvora {

// The program's main thread, seen from code that must not know which toolkit
// runs it: the headless loop (platform/mainloop) or, later, the window toolkit.
//
// Everything the design gives the main thread (timers, the frame handler, chat,
// the connections view, callbacks handed over by connection threads) runs through
// this interface.
class IMainThread {
public:
    virtual ~IMainThread() = default;

    // Runs fn on the main thread and returns once it has run (Synchronize). On the
    // main thread itself fn runs at once. Never call it while holding a lock that
    // the main thread may take. An exception thrown by fn is rethrown to the caller.
    // If the loop has already stopped, fn does not run and this returns at once.
    virtual void RunBlocking(const std::function<void()>& fn) = 0;

    // Queues fn to run on the main thread and returns at once.
    virtual void Post(std::function<void()> fn) = 0;

    virtual bool IsMainThread() const = 0;

    // Waits until done() is true. On the main thread it keeps running handed-over
    // calls and timers meanwhile, so that a thread blocked in RunBlocking can
    // finish (closing the server waits for connection threads this way). Elsewhere
    // it simply polls. Returns done().
    virtual bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) = 0;
};

}  // namespace halvora
