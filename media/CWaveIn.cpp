#include "media/CWaveIn.h"

#include <new>

namespace halvora {

CWaveBufferIn::~CWaveBufferIn() { Release(); }

bool CWaveBufferIn::Allocate(std::uint32_t size) {
    try {
        memory_ = std::make_unique<std::uint8_t[]>(size);  // zeroed
    } catch (const std::bad_alloc&) {
        return false;
    }
    Header = WaveHeader{};
    Header.Data = memory_.get();
    Header.BufferLength = size;
    Header.User = reinterpret_cast<std::uintptr_t>(this);
    return true;
}

bool CWaveBufferIn::Prepare(WaveInDevice& device) {
    if (!device.Prepare(Header)) return false;
    Device = &device;
    return true;
}

void CWaveBufferIn::Release() {
    if (Device != nullptr) {
        Device->Unprepare(Header);
        Device = nullptr;
    }
    memory_.reset();
    Header = WaveHeader{};
}

CWaveIn::CWaveIn(int buffer_count, int buffer_size)
    : buffer_count_(buffer_count), buffer_size_(buffer_size) {
    for (int i = 0; i < buffer_count_; ++i) buffers_.push_back(std::make_unique<CWaveBufferIn>());
}

CWaveIn::~CWaveIn() {
    Close();
    buffers_.clear();
}

bool CWaveIn::QueryFormat(int device_id, const WaveFormat& format) {
    return WaveInQueryFormat(device_id, format);
}

bool CWaveIn::Open(int device_id, const WaveFormat& format, WaveInCallback callback,
                   std::uintptr_t user) {
    if (device_ || buffer_size_ <= 0) return false;
    if (!QueryFormat(device_id, format)) return false;
    device_ = WaveInOpen(device_id, format, [this](WaveHeader& header) { OnBufferDone(header); });
    if (!device_) return false;
    for (auto& buffer : buffers_) {
        if (!buffer->Allocate(static_cast<std::uint32_t>(buffer_size_))) return false;
        if (!buffer->Prepare(*device_)) return false;
    }
    consumer_.store(std::make_shared<const Consumer>(Consumer{std::move(callback), user}));
    return true;
}

bool CWaveIn::Start() {
    if (!device_ || !device_->Start()) return false;
    // Running is raised before the buffers go out, so the first one filled is
    // already delivered.
    running_ = true;
    for (auto& buffer : buffers_) {
        buffer->Header.BytesRecorded = 0;
        device_->AddBuffer(buffer->Header);
    }
    return true;
}

bool CWaveIn::Stop() {
    running_ = false;
    if (device_) {
        device_->Reset();
        device_->Stop();
    }
    return true;
}

bool CWaveIn::Close() {
    Stop();
    if (device_) {
        for (auto& buffer : buffers_) buffer->Release();
        device_.reset();
    }
    consumer_.store(nullptr);
    return true;
}

void CWaveIn::OnBufferDone(WaveHeader& header) {
    // Buffers returned by a stop, and a buffer that came back empty, are not
    // handed back: four empty ones end capturing for the run.
    if (!running_ || header.BytesRecorded == 0) return;
    const std::shared_ptr<const Consumer> consumer = consumer_.load();
    if (!consumer || !consumer->callback) return;

    // The consumer guards its own body; one that throws anyway keeps capture going.
    int result = 0;
    try {
        result = consumer->callback(header.Data, header.BytesRecorded, consumer->user);
    } catch (...) {
        result = 0;
    }
    if (result == kWaveInStopCapture) {
        Stop();
        return;
    }
    if (result == kWaveInKeepBuffer) return;
    header.BytesRecorded = 0;
    device_->AddBuffer(header);
}

}  // namespace halvora
