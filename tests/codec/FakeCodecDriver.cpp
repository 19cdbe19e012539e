// fakecodec.so: a driver whose every answer the test picks, so that the
// compressor's handling of refused, oversized and key frames, and the call it
// makes, can be checked exactly. It opens only as a video compressor.
//
// The "picture" carries the instructions:
//   bytes 0-3  little-endian size of the compressed frame to produce,
//              or kRefuse to refuse the frame;
//   byte 4     1: report a key frame.
// The compressed frame reports what the driver was asked:
//   bytes 0-3  frame number, 4-7 quality, 8-11 flags, 12-15 desired size,
//   16-19      get-format requests so far in this process,
//   20-23      compress-begin requests on this instance,
// then byte i = i & 0xFF, all cut to the requested size.

#include <cstdint>
#include <cstring>
#include <new>

#include "platform/vcm/DriverInterface.h"
#include "tests/codec/FakeCodecProtocol.h"

namespace {

using namespace halvora::vcm;

struct Instance {
    bool begun = false;
    std::uint32_t begin_calls = 0;
};

std::uint32_t g_get_format_calls = 0;

void Put32(std::uint8_t* out, std::uint32_t v) { std::memcpy(out, &v, 4); }

intptr_t Compress(Instance& instance, DriverCompressParams* params) {
    if (!instance.begun) {
        return kIcErrError;
    }
    const auto* in = static_cast<const std::uint8_t*>(params->input);
    std::uint32_t size = 0;
    std::memcpy(&size, in, 4);
    if (size == halvora::test::fake::kRefuse) {
        return kIcErrInternal;
    }
    if (size > params->output_capacity) {
        return kIcErrBadSize;
    }
    std::uint8_t report[24];
    Put32(report + 0, static_cast<std::uint32_t>(params->frame_number));
    Put32(report + 4, params->quality);
    Put32(report + 8, params->flags);
    Put32(report + 12, params->desired_frame_size);
    Put32(report + 16, g_get_format_calls);
    Put32(report + 20, instance.begin_calls);
    auto* out = static_cast<std::uint8_t*>(params->output);
    for (std::uint32_t i = 0; i < size; ++i) {
        out[i] = i < sizeof(report) ? report[i] : static_cast<std::uint8_t>(i & 0xFF);
    }
    params->output_format->size_image = size;
    *params->frame_flags = in[4] == 1 ? kFrameFlagKeyFrame : 0;
    return kIcOk;
}

}  // namespace

extern "C" intptr_t HalvoraDriverProc(void* handle, uint32_t message, intptr_t p1, intptr_t p2) {
    if (message == kDrvOpen) {
        const auto* open = reinterpret_cast<const DriverOpenParams*>(p2);
        if (open == nullptr || open->type != kTypeVideo || open->mode != kModeCompress) {
            return 0;
        }
        return reinterpret_cast<intptr_t>(new (std::nothrow) Instance);
    }
    auto* instance = static_cast<Instance*>(handle);
    switch (message) {
        case kDrvClose:
            delete instance;
            return kIcOk;
        case kIcmCompressGetFormat:
            ++g_get_format_calls;
            if (p2 == 0) {
                return halvora::test::fake::kFormatBlockSize;
            }
            std::memset(reinterpret_cast<void*>(p2), 0, halvora::test::fake::kFormatBlockSize);
            reinterpret_cast<BitmapInfoHeader*>(p2)->size = sizeof(BitmapInfoHeader);
            return kIcOk;
        case kIcmCompressBegin:
            instance->begun = true;
            ++instance->begin_calls;
            return kIcOk;
        case kIcmCompress:
            return Compress(*instance, reinterpret_cast<DriverCompressParams*>(p1));
        case kIcmCompressEnd:
            instance->begun = false;
            return kIcOk;
        default:
            return kIcErrUnsupported;
    }
}
