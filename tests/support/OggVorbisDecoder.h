#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <vorbis/codec.h>

namespace halvora::test {

// The kind of a Vorbis packet, from its first byte and signature.
enum class VorbisPacketType { Audio, Identification, Comment, Setup, Invalid };
VorbisPacketType VorbisTypeOf(std::span<const std::uint8_t> packet);

// A libvorbis synthesis decoder fed one Vorbis packet at a time (clock stamp
// already stripped). It can start at any set of headers: packets before the
// first identification header are skipped, and that header is handed to the
// library as a beginning-of-stream packet, since libogg marks only the very
// first page of a stream and libvorbis refuses an identification header
// without the mark. Header sets that repeat once decoding runs are skipped.
class OggVorbisDecoder {
public:
    OggVorbisDecoder();
    ~OggVorbisDecoder();
    OggVorbisDecoder(const OggVorbisDecoder&) = delete;
    OggVorbisDecoder& operator=(const OggVorbisDecoder&) = delete;

    // False when the library refused the packet (also counted in Refused()).
    bool Push(std::span<const std::uint8_t> packet, std::int64_t granulepos = -1);

    // The three headers are in and audio packets decode.
    bool Ready() const { return ready_; }
    int Channels() const { return info_.channels; }
    long Rate() const { return info_.rate; }
    // From the comment header the decoder started with.
    std::string Vendor() const;
    std::vector<std::string> Comments() const;

    // Decoded samples so far, interleaved, full scale ±1.
    const std::vector<float>& Pcm() const { return pcm_; }
    int AudioPackets() const { return audio_packets_; }
    int SkippedPackets() const { return skipped_; }
    int Refused() const { return refused_; }

private:
    vorbis_info info_{};
    vorbis_comment comment_{};
    vorbis_dsp_state dsp_{};
    vorbis_block block_{};
    int headers_in_ = 0;
    bool ready_ = false;
    std::int64_t packetno_ = 0;

    std::vector<float> pcm_;
    int audio_packets_ = 0;
    int skipped_ = 0;
    int refused_ = 0;
};

// A stamped Ogg Vorbis byte stream, read from its first identification header.
struct DecodedStream {
    std::vector<float> pcm;             // interleaved, ±1
    int channels = 0;
    long rate = 0;
    std::string vendor;
    std::vector<std::string> comments;  // "TAG=value"
    std::vector<std::uint32_t> stamps;  // every packet's stamp, in stream order
    std::vector<VorbisPacketType> types;  // every packet's kind, in stream order
    int refused = 0;                    // packets the decoder refused
    int unstamped = 0;                  // packets too short to hold a stamp
    int holes = 0;                      // gaps in the page sequence
};
DecodedStream DecodeStampedOgg(std::span<const std::uint8_t> bytes);

}  // namespace halvora::test
