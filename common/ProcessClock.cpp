#include "common/ProcessClock.h"

#include <chrono>

namespace halvora {
namespace {
// Initialised during static initialisation, i.e. when the program loads.
const auto kProgramStart = std::chrono::steady_clock::now();
}  // namespace

std::uint32_t ProcessClockMs() {
    const auto elapsed = std::chrono::steady_clock::now() - kProgramStart;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

}  // namespace halvora
