#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/sound/WaveInDevice.h"

namespace halvora {

// Shared with the capture thread, which keeps it alive until it has left.
struct WaveInDevice::State {
    std::unique_ptr<IWaveSource> source;
    WaveInDataProc proc;

    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    std::deque<WaveHeader*> queue;  // buffers waiting to be filled, in order
    bool started = false;
    bool closing = false;
    bool busy = false;  // the capture thread is filling or reporting a buffer
    std::thread::id capture_thread;
    std::thread thread;

    // Stops capture and, unless called from the capture thread itself (from
    // inside a report), waits until the buffer in hand has been reported.
    void Quiesce(std::unique_lock<std::mutex>& lock) {
        started = false;
        source->Interrupt();
        if (std::this_thread::get_id() != capture_thread) {
            wake.wait(lock, [this] { return !busy; });
        }
    }
};

WaveInDevice::WaveInDevice(std::unique_ptr<IWaveSource> source, WaveInDataProc proc)
    : state_(std::make_shared<State>()) {
    state_->source = std::move(source);
    state_->proc = std::move(proc);
    std::lock_guard lock(state_->mutex);
    state_->thread = std::thread([state = state_] { CaptureLoop(*state); });
    state_->capture_thread = state_->thread.get_id();
}

WaveInDevice::~WaveInDevice() {
    {
        std::unique_lock lock(state_->mutex);
        state_->Quiesce(lock);
        state_->source->Halt();
        state_->closing = true;
        state_->wake.notify_all();
    }
    if (std::this_thread::get_id() == state_->capture_thread) {
        // Closed from inside a report: the thread holds its own reference to the
        // state and ends once the report returns.
        state_->thread.detach();
    } else {
        state_->thread.join();
    }
}

bool WaveInDevice::Prepare(WaveHeader& header) {
    if (header.Data == nullptr || header.BufferLength == 0) return false;
    std::lock_guard lock(state_->mutex);
    header.Flags |= kWhdrPrepared;
    return true;
}

bool WaveInDevice::Unprepare(WaveHeader& header) {
    std::lock_guard lock(state_->mutex);
    if (header.Flags & kWhdrInQueue) return false;
    header.Flags &= ~kWhdrPrepared;
    return true;
}

bool WaveInDevice::AddBuffer(WaveHeader& header) {
    std::lock_guard lock(state_->mutex);
    if (!(header.Flags & kWhdrPrepared) || (header.Flags & kWhdrInQueue) || state_->closing) {
        return false;
    }
    header.Flags = (header.Flags | kWhdrInQueue) & ~kWhdrDone;
    state_->queue.push_back(&header);
    state_->wake.notify_all();
    return true;
}

bool WaveInDevice::Start() {
    std::unique_lock lock(state_->mutex);
    if (state_->started) return true;
    // A stop from another thread may still be finishing its report.
    if (std::this_thread::get_id() != state_->capture_thread) {
        state_->wake.wait(lock, [this] { return !state_->busy; });
    }
    if (!state_->source->Start()) return false;
    state_->started = true;
    state_->wake.notify_all();
    return true;
}

void WaveInDevice::Reset() {
    std::deque<WaveHeader*> returned;
    {
        std::unique_lock lock(state_->mutex);
        state_->Quiesce(lock);
        state_->source->Halt();
        returned.swap(state_->queue);
    }
    for (WaveHeader* header : returned) {
        header->BytesRecorded = 0;
        header->Flags = (header->Flags & ~kWhdrInQueue) | kWhdrDone;
        state_->proc(*header);
    }
}

void WaveInDevice::Stop() {
    std::unique_lock lock(state_->mutex);
    if (!state_->started) return;
    state_->Quiesce(lock);
    state_->source->Halt();
}

void WaveInDevice::CaptureLoop(State& state) {
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.wake.wait(lock, [&] { return state.closing || (state.started && !state.queue.empty()); });
        if (state.closing) return;
        WaveHeader* header = state.queue.front();
        state.queue.pop_front();
        state.busy = true;
        lock.unlock();

        // A source or consumer that fails loses this buffer's sound only; the
        // device goes on with the next buffer.
        try {
            header->BytesRecorded = state.source->Fill(header->Data, header->BufferLength);
        } catch (...) {
            header->BytesRecorded = 0;
        }
        header->Flags = (header->Flags & ~kWhdrInQueue) | kWhdrDone;
        try {
            state.proc(*header);
        } catch (...) {
        }

        lock.lock();
        state.busy = false;
        state.wake.notify_all();
    }
}

}  // namespace halvora
