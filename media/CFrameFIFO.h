#pragma once

#include <chrono>
#include <atomic>
#include <cstdint>

#include "common/WakeEvent.h"
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
    //
    // Wake::Deferred leaves the consumer asleep: a producer that fills many
    // queues sharing one WakeEvent wakes them all at once afterwards.
    enum class Wake { Now, Deferred };
    bool PutFrame(const std::uint8_t* data, std::uint32_t size, std::uint8_t key_flag, int kind,
                  Wake wake = Wake::Now);

    // Makes the consumer sleep on a WakeEvent shared with other queues instead
    // of the queue's own. Set by the consumer before any producer can reach the
    // queue; the event must outlive it.
    void ShareWakeEvent(WakeEvent* shared) { event_.store(shared); }

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
    bool wait_key_ = false;  // guarded by the queue lock

    WakeEvent wake_;                           // the queue's own wake-up
    std::atomic<WakeEvent*> event_{&wake_};    // the one the consumer sleeps on
    std::atomic<bool> interrupted_{false};
};

}  // namespace halvora
