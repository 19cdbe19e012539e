#pragma once

#include <mutex>

namespace halvora {

// A recursive lock to inherit. A derived class brackets every access to its own
// fields with it; recursion lets a locked operation call another locked operation
// of the same object (a walk calls Count() while it already holds the lock).
//
// Lock order across the program, outermost first:
//   Contacts list -> one contact's Threads list -> one connection's queue -> CLog.
// The Vorbis encoder lock and each CVideo lock are taken on their own, never
// around a list lock. No lock is held across a socket send, a sleep or a
// blocking call onto the main thread.
class CMultiThreadClass {
public:
    CMultiThreadClass() = default;
    CMultiThreadClass(const CMultiThreadClass&) = delete;
    CMultiThreadClass& operator=(const CMultiThreadClass&) = delete;

    void Lock() const { mutex_.lock(); }
    void Unlock() const { mutex_.unlock(); }

    // BasicLockable, so that std::lock_guard / std::unique_lock work on the object.
    void lock() const { mutex_.lock(); }
    void unlock() const { mutex_.unlock(); }

protected:
    ~CMultiThreadClass() = default;

private:
    mutable std::recursive_mutex mutex_;
};

}  // namespace halvora
