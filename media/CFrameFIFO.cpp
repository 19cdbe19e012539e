#include "media/CFrameFIFO.h"

#include <cstring>

#include "common/PacketHeader.h"

namespace halvora {

CFrameFIFO::CFrameFIFO(int capacity) : CSyncFIFO(capacity) {}

bool CFrameFIFO::PutFrame(const std::uint8_t* data, std::uint32_t size, std::uint8_t key_flag,
                          int kind, Wake wake) {
    if (size > kMaxPayload) {
        return false;
    }
    {
        std::lock_guard guard(*this);
        if (IsFull()) {
            wait_key_ = true;
            return false;
        }
        if (wait_key_ && key_flag == 0) {
            return true;
        }
        auto record = std::make_unique<FrameRecord>();
        record->Data = std::make_unique_for_overwrite<std::uint8_t[]>(size == 0 ? 1 : size);
        if (size > 0) {
            std::memcpy(record->Data.get(), data, size);
        }
        record->Size = size;
        record->KeyFlag = key_flag;
        record->Kind = kind;
        // Push tests for room again; we hold the lock, so it cannot fail here, but
        // if it did the record would simply be released.
        Push(record);
        wait_key_ = false;
    }
    if (wake == Wake::Now) {
        event_.load()->NotifyAll();
    }
    return true;
}

bool CFrameFIFO::WaitKey() const {
    std::lock_guard guard(*this);
    return wait_key_;
}

void CFrameFIFO::Interrupt() {
    interrupted_.store(true);
    wake_.NotifyAll();
    WakeEvent* shared = event_.load();
    if (shared != &wake_) {
        shared->NotifyAll();  // the others sharing it look once more and sleep again
    }
}

void CFrameFIFO::WaitForRecord(std::chrono::milliseconds max_wait) {
    WakeEvent& event = *event_.load();
    const auto seen = event.Prepare();
    if (interrupted_.load() || !IsEmpty()) {
        return;
    }
    event.Wait(seen, max_wait);
}

void CFrameFIFO::WaitForRecord() {
    WakeEvent& event = *event_.load();
    const auto seen = event.Prepare();
    if (interrupted_.load() || !IsEmpty()) {
        return;
    }
    event.Wait(seen, std::nullopt);
}

}  // namespace halvora
