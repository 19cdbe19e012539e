#include "media/VideoCompressor.h"

#include <cstring>

#include "common/ProcessClock.h"
#include "platform/vcm/CodecManager.h"

namespace halvora {
namespace {

constexpr std::uint32_t kHandlerDvxx = vcm::MakeFourCC('D', 'v', 'x', 'x');

// The frame number's share of the stamp: viewers tell frames of the same
// millisecond apart by it.
std::uint32_t StampOffset(std::int32_t frame_number) {
    return static_cast<std::uint32_t>(frame_number % 100);
}

}  // namespace

VideoCompressor::VideoCompressor() = default;

VideoCompressor::~VideoCompressor() {
    CloseVideoCodec();
}

bool VideoCompressor::OpenCompressor() {
    compressor_ = vcm::ICOpen(vcm::kTypeVideo, kHandlerDvxx, vcm::kModeCompress);
    return compressor_ != nullptr;
}

bool VideoCompressor::OpenVideoCodec() {
    input_format_ = vcm::BitmapInfoHeader{};
    input_format_.size = sizeof(vcm::BitmapInfoHeader);
    input_format_.width = kWidth;
    input_format_.height = kHeight;  // positive: bottom-up rows
    input_format_.planes = 1;
    input_format_.bit_count = 24;
    input_format_.compression = vcm::kCompressionRgb;
    input_format_.size_image = kFrameBytes;

    if (!OpenCompressor()) {
        return false;
    }
    // A block shorter than the header could not carry the image size we read
    // back; a huge one is not a format block at all.
    const intptr_t format_size = compressor_->CompressGetFormatSize(input_format_);
    if (format_size < static_cast<intptr_t>(sizeof(vcm::BitmapInfoHeader)) || format_size > 65536) {
        compressor_.reset();
        return false;
    }
    output_format_.assign(static_cast<std::size_t>(format_size), 0);
    compressor_->CompressGetFormat(input_format_, output_format_.data());
    compressed_buffer_.assign(kFrameBytes, 0);
    compressor_->CompressBegin(input_format_, output_format_.data());
    return true;
}

std::uint32_t VideoCompressor::CompressedSize() const {
    if (output_format_.size() < sizeof(vcm::BitmapInfoHeader)) {
        return 0;
    }
    vcm::BitmapInfoHeader header;
    std::memcpy(&header, output_format_.data(), sizeof(header));
    return header.size_image;
}

bool VideoCompressor::CompressFrame(const std::uint8_t* bits,
                                    const std::function<void(const VideoPayload&)>& deliver) {
    if (!compressor_ || bits == nullptr) {
        return false;
    }
    // The format block is a byte array of the codec's size; the driver writes
    // the image size into its leading header in place.
    vcm::DriverCompressParams params;
    params.flags = 0;  // the codec alone decides on key frames
    params.output_format = reinterpret_cast<vcm::BitmapInfoHeader*>(output_format_.data());
    params.output = compressed_buffer_.data();
    params.output_capacity = static_cast<std::uint32_t>(compressed_buffer_.size());
    params.input_format = &input_format_;
    params.input = bits;
    std::uint32_t chunk_id = 0;
    params.chunk_id = &chunk_id;
    params.frame_flags = &frame_flags_;
    params.frame_number = frame_number_;
    params.desired_frame_size = 0;
    params.quality = kQuality;
    if (compressor_->Compress(params) != vcm::kIcOk) {
        return false;
    }
    const std::uint32_t size = CompressedSize();
    if (size > compressed_buffer_.size() || size + kStampBytes >= kPayloadLimit) {
        return false;
    }
    VideoPayload payload;
    payload.bytes.resize(kStampBytes + size);
    PutLe32(payload.bytes.data(), ProcessClockMs() + StampOffset(frame_number_));
    std::memcpy(payload.bytes.data() + kStampBytes, compressed_buffer_.data(), size);
    payload.key_flag = frame_flags_ != 0 ? 1 : 0;
    deliver(payload);
    // Wraps like the 32-bit counter it is (after some eight years at 8 fps).
    frame_number_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(frame_number_) + 1U);
    return true;
}

void VideoCompressor::RestartVideoCodecClose() {
    if (compressor_) {
        compressor_->CompressEnd();
        compressor_.reset();
    }
}

bool VideoCompressor::RestartVideoCodecOpen() {
    if (output_format_.empty() || compressed_buffer_.empty()) {
        return false;  // never opened: there are no formats to begin with
    }
    if (!OpenCompressor()) {
        return false;
    }
    compressor_->CompressBegin(input_format_, output_format_.data());
    return true;
}

void VideoCompressor::CloseVideoCodec() {
    RestartVideoCodecClose();
    output_format_.clear();
    output_format_.shrink_to_fit();
    compressed_buffer_.clear();
    compressed_buffer_.shrink_to_fit();
}

}  // namespace halvora
