#include "media/CSyncFIFO.h"

#include <mutex>
#include <stdexcept>

namespace halvora {

CSyncFIFO::CSyncFIFO(int capacity) : capacity_(capacity) {
    if (capacity < 1) {
        throw std::invalid_argument("queue capacity must be at least 1");
    }
    slots_.resize(static_cast<std::size_t>(capacity));
    Reset();
}

// Records still in the slots are released by the vector; the connection thread
// drains its queue first, so in practice there are none.
CSyncFIFO::~CSyncFIFO() = default;

void CSyncFIFO::Reset() {
    std::lock_guard guard(*this);
    for (auto& slot : slots_) {
        slot.reset();
    }
    write_index_ = 0;
    read_index_ = 0;
    count_ = 0;
}

bool CSyncFIFO::IsFull() const {
    std::lock_guard guard(*this);
    return count_ == capacity_ - 1;
}

bool CSyncFIFO::IsEmpty() const {
    std::lock_guard guard(*this);
    return count_ == 0;
}

int CSyncFIFO::Count() const {
    std::lock_guard guard(*this);
    return count_;
}

bool CSyncFIFO::Push(FrameRecordPtr& record) {
    std::lock_guard guard(*this);
    if (IsFull()) {
        return false;
    }
    slots_[static_cast<std::size_t>(write_index_)] = std::move(record);
    write_index_ = (write_index_ + 1) % capacity_;
    ++count_;
    return true;
}

FrameRecordPtr CSyncFIFO::Pop() {
    std::lock_guard guard(*this);
    if (count_ == 0) {
        return nullptr;
    }
    FrameRecordPtr record = std::move(slots_[static_cast<std::size_t>(read_index_)]);
    read_index_ = (read_index_ + 1) % capacity_;
    --count_;
    return record;
}

}  // namespace halvora
