#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "media/CSyncFIFO.h"

namespace halvora {

// The per-connection outgoing queue. Producers (the frame handler, the audio
// worker, the header and file steps, the chat) push copies of their records with
// PutFrame and never wait; the connection thread is the only consumer.
//
// When a push meets a full queue the record is refused and the queue enters a
// key wait: from then on only key records are stored until one is, so a slow
// viewer loses a stretch of media and resumes where its decoder can start.
class CFrameFIFO : public CSyncFIFO {
public:
    explicit CFrameFIFO(int capacity);

    // Copies size bytes of data into a new record of the given key flag and kind.
    // False when the queue was full (nothing stored, key wait begins) or when the
    // payload is too long for a packet header (65,536 bytes or more; nothing
    // stored). True otherwise, also when the key wait discarded a non-key record.
    bool PutFrame(const std::uint8_t* data, std::uint32_t size, std::uint8_t key_flag, int kind);

    bool WaitKey() const;

    // Consumer side: blocks until a record is stored, Interrupt() is called or
    // max_wait has passed, whichever comes first. Returns at once if the queue
    // already holds a record. A pause that ends early on a push sends the same
    // bytes, only sooner, and costs an idle connection nothing.
    void WaitForRecord(std::chrono::milliseconds max_wait);
    // Same, without a time limit.
    void WaitForRecord();
    // Ends the current and every later wait at once (the connection is stopping).
    void Interrupt();

private:
    void Notify();

    bool wait_key_ = false;  // guarded by the queue lock

    // Wake-up of the consumer. The consumer takes the queue lock (IsEmpty) while
    // holding wake_mutex_; producers take wake_mutex_ only after releasing the
    // queue lock, so the two never wait for each other in a cycle.
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    bool consumer_waiting_ = false;
    bool interrupted_ = false;
};

}  // namespace halvora
