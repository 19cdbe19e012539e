#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "common/CMultiThreadClass.h"

namespace halvora {

// One queued record. The producer's payload is copied into Data when the record
// is made (CFrameFIFO::PutFrame); from then on the record belongs to its queue,
// and after Pop to the consumer, which releases it with FreeFrame.
struct FrameRecord {
    std::unique_ptr<std::uint8_t[]> Data;  // private copy of the payload
    std::uint32_t Size = 0;                // payload bytes, below 65536
    std::uint8_t KeyFlag = 0;              // 1: a receiver may start decoding here
    int Kind = 0;                          // 1 video, 3 audio, -1 chat
};

using FrameRecordPtr = std::unique_ptr<FrameRecord>;

// Releases a record the consumer has finished with; nothing for null.
inline void FreeFrame(FrameRecordPtr record) { record.reset(); }

// A fixed ring of record pointers under the object's recursive lock. A ring of
// capacity N holds at most N - 1 records: one slot always stays empty.
class CSyncFIFO : public CMultiThreadClass {
public:
    explicit CSyncFIFO(int capacity);
    ~CSyncFIFO();

    // Empties every slot without looking at what they held. The owner drains the
    // queue before it resets or destroys it.
    void Reset();
    bool IsFull() const;
    bool IsEmpty() const;
    int Count() const;
    int Capacity() const { return capacity_; }

    // False, and nothing changes, when the ring is full; otherwise the queue takes
    // the record.
    bool Push(FrameRecordPtr& record);
    // The oldest record, or null when the ring is empty.
    FrameRecordPtr Pop();

private:
    int write_index_ = 0;
    int read_index_ = 0;
    int count_ = 0;
    const int capacity_;
    std::vector<FrameRecordPtr> slots_;
};

}  // namespace halvora
