#include "media/CFrameFIFO.h"

#include <cstring>

#include "common/PacketHeader.h"

namespace halvora {

CFrameFIFO::CFrameFIFO(int capacity) : CSyncFIFO(capacity) {}

bool CFrameFIFO::PutFrame(const std::uint8_t* data, std::uint32_t size, std::uint8_t key_flag,
                          int kind) {
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
        record->Data = std::make_unique<std::uint8_t[]>(size == 0 ? 1 : size);
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
    Notify();
    return true;
}

bool CFrameFIFO::WaitKey() const {
    std::lock_guard guard(*this);
    return wait_key_;
}

void CFrameFIFO::Notify() {
    bool wake = false;
    {
        std::lock_guard guard(wake_mutex_);
        wake = consumer_waiting_;
        consumer_waiting_ = false;
    }
    if (wake) {
        wake_.notify_one();
    }
}

void CFrameFIFO::Interrupt() {
    {
        std::lock_guard guard(wake_mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

void CFrameFIFO::WaitForRecord(std::chrono::milliseconds max_wait) {
    std::unique_lock lock(wake_mutex_);
    if (interrupted_ || !IsEmpty()) {
        return;
    }
    consumer_waiting_ = true;
    wake_.wait_for(lock, max_wait, [this] { return interrupted_ || !consumer_waiting_; });
    consumer_waiting_ = false;
}

void CFrameFIFO::WaitForRecord() {
    std::unique_lock lock(wake_mutex_);
    if (interrupted_ || !IsEmpty()) {
        return;
    }
    consumer_waiting_ = true;
    wake_.wait(lock, [this] { return interrupted_ || !consumer_waiting_; });
    consumer_waiting_ = false;
}

}  // namespace halvora
