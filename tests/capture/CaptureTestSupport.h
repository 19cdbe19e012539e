#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/MainThread.h"
#include "platform/capture/Bitmap.h"
#include "platform/mainloop/MainLoop.h"
#include "tests/support/ScopedTempFolder.h"

namespace halvora::capturetest {

// Points the process-wide error log at a fresh folder for a test's lifetime.
class ScopedLog {
public:
    ScopedLog();
    // Every entry so far, without its time stamp.
    std::vector<std::string> Entries() const;

private:
    test::ScopedTempFolder folder_;
};

// A picture with something in every channel that tells rows, columns and colour
// order apart: red grows to the right, green grows downwards, blue runs
// diagonally. Smooth, so scaling and chroma subsampling barely change it.
Bitmap GradientPicture(int width, int height);

// One colour everywhere.
Bitmap SolidPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r);

// Peak signal-to-noise ratio of two equally long 8-bit sample runs, in dB
// (99 for identical runs).
double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// The largest difference of one byte between two equally long runs.
int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

// A main thread for tests: the headless loop, counting what is handed over to it
// so a test can wait until a frame is on its way without running it.
class CountingMainThread : public IMainThread {
public:
    void RunBlocking(const std::function<void()>& fn) override { loop_.RunBlocking(fn); }
    void Post(std::function<void()> fn) override {
        loop_.Post(std::move(fn));
        ++posted_;
    }
    bool IsMainThread() const override { return loop_.IsMainThread(); }
    bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) override {
        return loop_.ServeUntil(done, timeout);
    }

    MainLoop& Loop() { return loop_; }
    int Posted() const { return posted_; }
    // Waits (without running the loop) until at least n calls were handed over.
    bool WaitForPosted(int n, std::chrono::milliseconds timeout) const;

private:
    MainLoop loop_;
    std::atomic<int> posted_{0};
};

}  // namespace halvora::capturetest
