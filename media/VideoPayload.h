#pragma once

#include <cstdint>
#include <vector>

namespace halvora {

// One compressed video frame as it leaves the compressor: the 4-byte clock stamp
// followed by the codec's bytes, and whether the codec made a key frame. The
// frame handler hands it to the video path, which copies it into the recorder
// and into each viewer's queue; whoever made it releases it afterwards.
struct VideoPayload {
    std::vector<std::uint8_t> bytes;
    std::uint8_t key_flag = 0;
};

}  // namespace halvora
