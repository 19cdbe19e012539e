#pragma once

#include <cstddef>

namespace halvora::spine {

// The largest single allocation through operator new since the last reset, in
// this test program (operator new is replaced for the whole program).
void ResetLargestAllocation();
std::size_t LargestAllocation();

}  // namespace halvora::spine
