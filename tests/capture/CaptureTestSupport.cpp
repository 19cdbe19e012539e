#include "tests/capture/CaptureTestSupport.h"

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "common/CLog.h"

namespace halvora::capturetest {

ScopedLog::ScopedLog() { CLog::Instance().SetFolder(folder_.Path()); }

std::vector<std::string> ScopedLog::Entries() const {
    std::vector<std::string> entries;
    std::ifstream in(folder_.Path() / "errors.log", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        entries.push_back(line.size() >= 18 ? line.substr(18) : line);
    }
    return entries;
}

Bitmap GradientPicture(int width, int height) {
    Bitmap picture;
    picture.width = width;
    picture.height = height;
    picture.bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &picture.bgr[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(40 + 80 * x / (width - 1) + 80 * y / (height - 1));  // blue
            p[1] = static_cast<std::uint8_t>(20 + 200 * y / (height - 1));                // green
            p[2] = static_cast<std::uint8_t>(30 + 190 * x / (width - 1));                 // red
        }
    }
    return picture;
}

Bitmap SolidPicture(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Bitmap picture;
    picture.width = width;
    picture.height = height;
    picture.bgr.resize(static_cast<std::size_t>(width) * height * 3);
    for (std::size_t i = 0; i < picture.bgr.size(); i += 3) {
        picture.bgr[i] = b;
        picture.bgr[i + 1] = g;
        picture.bgr[i + 2] = r;
    }
    return picture;
}

double Psnr(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) {
        throw std::invalid_argument("Psnr: runs differ in length");
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    if (sum == 0) {
        return 99.0;
    }
    return 10.0 * std::log10(255.0 * 255.0 / (sum / static_cast<double>(a.size())));
}

int MaxDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.size() != b.size()) {
        throw std::invalid_argument("MaxDifference: runs differ in length");
    }
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        worst = std::max(worst, std::abs(static_cast<int>(a[i]) - b[i]));
    }
    return worst;
}

bool CountingMainThread::WaitForPosted(int n, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (posted_ < n) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace halvora::capturetest
