#include "tests/support/OggVorbisDecoder.h"

#include <cstring>

#include "tests/support/OggDemuxer.h"

namespace halvora::test {

VorbisPacketType VorbisTypeOf(std::span<const std::uint8_t> packet) {
    if (packet.empty()) return VorbisPacketType::Invalid;
    if ((packet[0] & 1) == 0) return VorbisPacketType::Audio;
    if (packet.size() < 7 || std::memcmp(packet.data() + 1, "vorbis", 6) != 0) {
        return VorbisPacketType::Invalid;
    }
    switch (packet[0]) {
        case 1: return VorbisPacketType::Identification;
        case 3: return VorbisPacketType::Comment;
        case 5: return VorbisPacketType::Setup;
        default: return VorbisPacketType::Invalid;
    }
}

OggVorbisDecoder::OggVorbisDecoder() {
    vorbis_info_init(&info_);
    vorbis_comment_init(&comment_);
}

OggVorbisDecoder::~OggVorbisDecoder() {
    if (ready_) {
        vorbis_block_clear(&block_);
        vorbis_dsp_clear(&dsp_);
    }
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
}

bool OggVorbisDecoder::Push(std::span<const std::uint8_t> packet, std::int64_t granulepos) {
    const VorbisPacketType type = VorbisTypeOf(packet);
    ogg_packet op{};
    op.packet = const_cast<unsigned char*>(packet.data());
    op.bytes = static_cast<long>(packet.size());
    op.granulepos = granulepos;
    op.packetno = packetno_++;

    if (!ready_) {
        // Wait for an identification header, then take the two that follow it.
        const bool expected = (headers_in_ == 0 && type == VorbisPacketType::Identification) ||
                              (headers_in_ == 1 && type == VorbisPacketType::Comment) ||
                              (headers_in_ == 2 && type == VorbisPacketType::Setup);
        if (!expected) {
            if (headers_in_ > 0) {
                // A broken set: start over at the next identification header.
                vorbis_comment_clear(&comment_);
                vorbis_info_clear(&info_);
                vorbis_info_init(&info_);
                vorbis_comment_init(&comment_);
                headers_in_ = 0;
                ++refused_;
                return false;
            }
            ++skipped_;
            return true;
        }
        op.b_o_s = headers_in_ == 0 ? 1 : 0;
        if (vorbis_synthesis_headerin(&info_, &comment_, &op) != 0) {
            ++refused_;
            return false;
        }
        if (++headers_in_ == 3) {
            if (vorbis_synthesis_init(&dsp_, &info_) != 0) {
                ++refused_;
                return false;
            }
            vorbis_block_init(&dsp_, &block_);
            ready_ = true;
        }
        return true;
    }

    if (type != VorbisPacketType::Audio) {
        ++skipped_;
        return true;
    }
    if (vorbis_synthesis(&block_, &op) != 0 || vorbis_synthesis_blockin(&dsp_, &block_) != 0) {
        ++refused_;
        return false;
    }
    ++audio_packets_;
    float** channels = nullptr;
    int samples;
    while ((samples = vorbis_synthesis_pcmout(&dsp_, &channels)) > 0) {
        for (int i = 0; i < samples; ++i) {
            for (int c = 0; c < info_.channels; ++c) pcm_.push_back(channels[c][i]);
        }
        vorbis_synthesis_read(&dsp_, samples);
    }
    return true;
}

std::string OggVorbisDecoder::Vendor() const {
    return comment_.vendor != nullptr ? std::string(comment_.vendor) : std::string();
}

std::vector<std::string> OggVorbisDecoder::Comments() const {
    std::vector<std::string> out;
    for (int i = 0; i < comment_.comments; ++i) {
        out.emplace_back(comment_.user_comments[i],
                         static_cast<std::size_t>(comment_.comment_lengths[i]));
    }
    return out;
}

DecodedStream DecodeStampedOgg(std::span<const std::uint8_t> bytes) {
    OggDemuxer demuxer;
    demuxer.Feed(bytes);
    OggVorbisDecoder decoder;
    DecodedStream out;
    for (const OggPacketData& packet : demuxer.TakePackets()) {
        const auto stamped = SplitStamp(packet.bytes);
        if (!stamped) {
            ++out.unstamped;
            continue;
        }
        out.stamps.push_back(stamped->stamp);
        out.types.push_back(VorbisTypeOf(stamped->vorbis));
        decoder.Push(stamped->vorbis, packet.granulepos);
    }
    out.pcm = decoder.Pcm();
    out.channels = decoder.Ready() ? decoder.Channels() : 0;
    out.rate = decoder.Ready() ? decoder.Rate() : 0;
    out.vendor = decoder.Vendor();
    out.comments = decoder.Comments();
    out.refused = decoder.Refused();
    out.holes = demuxer.Holes();
    return out;
}

}  // namespace halvora::test
