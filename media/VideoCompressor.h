#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/VideoPayload.h"
#include "platform/vcm/Compressor.h"
#include "platform/vcm/DriverInterface.h"

namespace halvora {

// The program's video compressor: the installed MPEG-4 codec (type "vidc",
// handler "Dvxx"), opened once for the run, fed 320 x 240 bottom-up BGR24
// frames, each compressed frame packaged as a video payload (4-byte clock stamp
// + the codec's bytes, with the codec's key-frame flag).
//
// The codec takes its bitrate and key-frame interval from the codec key when
// compression begins; nothing here passes them.
//
// All calls come from one thread (the main thread); there is no lock.
class VideoCompressor {
public:
    static constexpr std::int32_t kWidth = 320;
    static constexpr std::int32_t kHeight = 240;
    static constexpr std::uint32_t kFrameBytes = kWidth * kHeight * 3;  // 230400
    // The quality hint passed with every frame (0 ... 10000).
    static constexpr std::uint32_t kQuality = 7500;
    // A payload travels with a 16-bit length: it must stay below this.
    static constexpr std::size_t kPayloadLimit = 65536;
    static constexpr std::size_t kStampBytes = 4;

    VideoCompressor();
    ~VideoCompressor();
    VideoCompressor(const VideoCompressor&) = delete;
    VideoCompressor& operator=(const VideoCompressor&) = delete;

    // Builds InputFormat, opens the codec, obtains OutputFormat, allocates
    // CompressedBuffer and begins compression. False when the codec is not
    // registered or cannot be opened (start-up then ends silently).
    bool OpenVideoCodec();

    // Compresses one kFrameBytes bottom-up BGR24 frame. If the codec accepts it
    // and the payload stays below kPayloadLimit, calls deliver(payload), then
    // increments FrameNumber. Returns whether a payload was delivered. A refused
    // or oversized frame delivers nothing and leaves FrameNumber unchanged.
    bool CompressFrame(const std::uint8_t* bits, const std::function<void(const VideoPayload&)>& deliver);

    // First half of the restart around the Options dialog's writes: end
    // compression and close the codec.
    void RestartVideoCodecClose();
    // Second half: open the codec again and begin with the existing formats
    // (the output format is not asked for again). False when it does not open:
    // frames are then dropped until a later restart succeeds.
    bool RestartVideoCodecOpen();

    // Ends compression, closes the codec and releases the buffers.
    void CloseVideoCodec();

    bool IsOpen() const { return compressor_ != nullptr; }
    // Frames delivered since the program started; never reset.
    std::int32_t FrameNumber() const { return frame_number_; }
    // The codec's flags for the last compressed frame (non-zero: a key frame).
    std::uint32_t FrameFlags() const { return frame_flags_; }
    // The byte count of the last compressed frame (OutputFormat's image-size
    // field); 0 before the first one or once closed.
    std::uint32_t CompressedSize() const;
    const vcm::BitmapInfoHeader& InputFormat() const { return input_format_; }

private:
    // Opens vidc/Dvxx in compress mode into compressor_; false when it cannot.
    bool OpenCompressor();

    // The state the main window keeps for the run (see OpenVideoCodec).
    std::unique_ptr<vcm::Compressor> compressor_;   // null when none is open
    vcm::BitmapInfoHeader input_format_;
    std::vector<std::uint8_t> output_format_;       // block of the codec's size
    std::vector<std::uint8_t> compressed_buffer_;   // kFrameBytes
    std::int32_t frame_number_ = 0;
    std::uint32_t frame_flags_ = 0;
};

}  // namespace halvora
