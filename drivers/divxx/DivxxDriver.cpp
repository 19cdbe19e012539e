// divxx: the MPEG-4 compressor driver registered as vidc/Dvxx. The codec
// manager enters it only through HalvoraDriverProc.

#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "drivers/divxx/EncoderSettings.h"
#include "drivers/divxx/Mpeg4Encoder.h"
#include "drivers/divxx/Mpeg4OutputFormat.h"
#include "platform/vcm/DriverInterface.h"

namespace halvora::divxx {
namespace {

using vcm::BitmapInfoHeader;

constexpr std::int32_t kMinDimension = 16;
constexpr std::int32_t kMaxDimension = 2048;
constexpr std::uint32_t kChunkIdCompressedVideo = vcm::MakeFourCC('0', '0', 'd', 'c');

// One open instance. Its encoder exists between compress-begin and compress-end.
struct Instance {
    std::unique_ptr<Mpeg4Encoder> encoder;
};

// Rows of a packed 24-bit bitmap are padded to 4 bytes.
std::ptrdiff_t RowBytes(std::int32_t width) {
    return (static_cast<std::ptrdiff_t>(width) * 3 + 3) & ~std::ptrdiff_t{3};
}

// The inputs divxx compresses: uncompressed 24-bit RGB, bottom-up or top-down,
// with even dimensions (4:2:0 chroma) within a sane range.
bool AcceptInput(const BitmapInfoHeader* in, Mpeg4Encoder::Picture* picture) {
    if (in == nullptr || in->size < sizeof(BitmapInfoHeader) || in->planes != 1 || in->bit_count != 24 ||
        in->compression != vcm::kCompressionRgb) {
        return false;
    }
    const std::int32_t width = in->width;
    // height is INT32_MIN-safe: compare before negating.
    if (in->height < -kMaxDimension || in->height > kMaxDimension) {
        return false;
    }
    const std::int32_t height = in->height < 0 ? -in->height : in->height;
    if (width < kMinDimension || width > kMaxDimension || height < kMinDimension || width % 2 != 0 ||
        height % 2 != 0) {
        return false;
    }
    if (picture != nullptr) {
        picture->width = width;
        picture->height = height;
        picture->bottom_up = in->height > 0;
        picture->row_bytes = RowBytes(width);
    }
    return true;
}

intptr_t GetFormat(const BitmapInfoHeader* in, Mpeg4OutputFormat* out) {
    Mpeg4Encoder::Picture picture;
    if (!AcceptInput(in, &picture)) {
        return vcm::kIcErrBadFormat;
    }
    if (out == nullptr) {
        return static_cast<intptr_t>(sizeof(Mpeg4OutputFormat));
    }
    *out = Mpeg4OutputFormat{};
    out->header.size = sizeof(BitmapInfoHeader);
    out->header.width = picture.width;
    out->header.height = picture.height;
    out->header.planes = 1;
    out->header.bit_count = 24;
    out->header.compression = kMpeg4Compression;
    // Until the first frame: the most one compressed frame may take.
    out->header.size_image = static_cast<std::uint32_t>(picture.row_bytes * picture.height);
    out->frame_rate_num = kFramesPerSecond;
    out->frame_rate_den = 1;
    return vcm::kIcOk;
}

intptr_t Begin(Instance& instance, const BitmapInfoHeader* in, const Mpeg4OutputFormat* out) {
    Mpeg4Encoder::Picture picture;
    if (!AcceptInput(in, &picture) || out == nullptr || out->header.compression != kMpeg4Compression ||
        out->header.width != picture.width || out->header.height != picture.height) {
        return vcm::kIcErrBadFormat;
    }
    instance.encoder.reset();
    std::string error;
    instance.encoder = Mpeg4Encoder::Create(picture, EncoderSettings::FromRegistry(), error);
    return instance.encoder ? vcm::kIcOk : vcm::kIcErrInternal;
}

intptr_t Compress(Instance& instance, vcm::DriverCompressParams* params, intptr_t params_size) {
    if (params == nullptr || params_size < static_cast<intptr_t>(sizeof(vcm::DriverCompressParams)) ||
        params->struct_size < sizeof(vcm::DriverCompressParams)) {
        return vcm::kIcErrBadParam;
    }
    if (!instance.encoder) {
        return vcm::kIcErrError;  // not begun
    }
    if ((params->flags & ~vcm::kCompressKeyFrame) != 0) {
        return vcm::kIcErrBadFlags;
    }
    Mpeg4Encoder::Picture picture;
    const Mpeg4Encoder::Picture& begun = instance.encoder->Input();
    if (!AcceptInput(params->input_format, &picture) || picture.width != begun.width ||
        picture.height != begun.height || picture.bottom_up != begun.bottom_up) {
        return vcm::kIcErrBadFormat;
    }
    if (params->input == nullptr || params->output == nullptr || params->output_format == nullptr) {
        return vcm::kIcErrBadParam;
    }
    // Quality and the desired frame size have no libavcodec equivalent that
    // keeps the bitrate: rate control alone decides each frame's size.
    std::size_t written = 0;
    bool key_frame = false;
    switch (instance.encoder->Encode(static_cast<const std::uint8_t*>(params->input),
                                     (params->flags & vcm::kCompressKeyFrame) != 0,
                                     static_cast<std::uint8_t*>(params->output), params->output_capacity,
                                     written, key_frame)) {
        case Mpeg4Encoder::Result::kOk:
            break;
        case Mpeg4Encoder::Result::kTooSmall:
            return vcm::kIcErrBadSize;
        case Mpeg4Encoder::Result::kFailed:
            return vcm::kIcErrInternal;
    }
    params->output_format->size_image = static_cast<std::uint32_t>(written);
    if (params->frame_flags != nullptr) {
        *params->frame_flags = key_frame ? vcm::kFrameFlagKeyFrame : 0;
    }
    if (params->chunk_id != nullptr) {
        *params->chunk_id = kChunkIdCompressedVideo;
    }
    return vcm::kIcOk;
}

intptr_t Dispatch(void* handle, std::uint32_t message, intptr_t p1, intptr_t p2) {
    if (message == vcm::kDrvOpen) {
        const auto* open = reinterpret_cast<const vcm::DriverOpenParams*>(p2);
        if (open == nullptr || open->struct_size < sizeof(vcm::DriverOpenParams) ||
            open->abi_version != vcm::kDriverAbiVersion || open->type != vcm::kTypeVideo ||
            open->mode != vcm::kModeCompress) {
            return 0;
        }
        return reinterpret_cast<intptr_t>(new (std::nothrow) Instance);
    }
    auto* instance = static_cast<Instance*>(handle);
    if (instance == nullptr) {
        return vcm::kIcErrBadParam;
    }
    switch (message) {
        case vcm::kDrvClose:
            delete instance;
            return vcm::kIcOk;
        case vcm::kIcmCompressGetFormat:
            return GetFormat(reinterpret_cast<const BitmapInfoHeader*>(p1), reinterpret_cast<Mpeg4OutputFormat*>(p2));
        case vcm::kIcmCompressBegin:
            return Begin(*instance, reinterpret_cast<const BitmapInfoHeader*>(p1),
                         reinterpret_cast<const Mpeg4OutputFormat*>(p2));
        case vcm::kIcmCompress:
            return Compress(*instance, reinterpret_cast<vcm::DriverCompressParams*>(p1), p2);
        case vcm::kIcmCompressEnd:
            instance->encoder.reset();
            return vcm::kIcOk;
        default:
            return vcm::kIcErrUnsupported;
    }
}

}  // namespace
}  // namespace halvora::divxx

extern "C" intptr_t HalvoraDriverProc(void* instance, uint32_t message, intptr_t p1, intptr_t p2) {
    // Nothing may unwind into the caller, which may not even be C++.
    try {
        return halvora::divxx::Dispatch(instance, message, p1, p2);
    } catch (...) {
        return message == halvora::vcm::kDrvOpen ? intptr_t{0} : intptr_t{halvora::vcm::kIcErrInternal};
    }
}
