#include "media/COggEncoder.h"

#include <cstring>
#include <ctime>
#include <random>

#include <vorbis/vorbisenc.h>

#include "common/ProcessClock.h"

namespace halvora {

COggEncoder::COggEncoder() = default;

COggEncoder::~COggEncoder() {
    if (initialised_) Clear();
}

bool COggEncoder::Init(int channels, int sample_rate, float quality, int bits_per_sample) {
    if (initialised_) Clear();
    channels_ = channels;
    sample_rate_ = sample_rate;
    bits_per_sample_ = bits_per_sample;

    vorbis_info_init(&info_);
    if (channels < 1 || vorbis_encode_init_vbr(&info_, channels, sample_rate, quality) != 0) {
        vorbis_info_clear(&info_);
        return false;
    }
    vorbis_comment_init(&comment_);
    vorbis_comment_add_tag(&comment_, kEncoderTag, kEncoderName);
    vorbis_analysis_init(&dsp_state_, &info_);
    vorbis_block_init(&dsp_state_, &block_);

    // Viewers tell streams apart by serial only within one connection, so a
    // generator initialised with the time in seconds is enough here.
    std::mt19937 generator(static_cast<std::mt19937::result_type>(std::time(nullptr)));
    std::uniform_int_distribution<int> serial(0, 32767);
    ogg_stream_init(&stream_state_, serial(generator));

    initialised_ = true;
    return true;
}

void COggEncoder::Clear() {
    channels_ = 0;
    sample_rate_ = 0;
    bits_per_sample_ = 0;
    if (!initialised_) return;
    ogg_stream_clear(&stream_state_);
    vorbis_block_clear(&block_);
    vorbis_dsp_clear(&dsp_state_);
    vorbis_comment_clear(&comment_);
    vorbis_info_clear(&info_);
    initialised_ = false;
}

bool COggEncoder::WriteHeaders() {
    if (!initialised_) return true;
    ogg_packet identification{};
    ogg_packet comment{};
    ogg_packet setup{};
    vorbis_analysis_headerout(&dsp_state_, &comment_, &identification, &comment, &setup);
    StampPacket(identification);
    StampPacket(comment);
    StampPacket(setup);
    return true;
}

bool COggEncoder::Encode(const std::uint8_t* bytes, std::uint32_t count) {
    if (!initialised_) return false;
    const auto channels = static_cast<std::uint32_t>(channels_);
    long samples = 0;
    if (bits_per_sample_ == 16) {
        samples = static_cast<long>(count / (channels * 2));
        if (samples == 0) return true;
        float** buffer = vorbis_analysis_buffer(&dsp_state_, static_cast<int>(samples));
        for (long i = 0; i < samples; ++i) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const std::uint8_t* s = bytes + 2 * (static_cast<std::uint32_t>(i) * channels + c);
                const auto value = static_cast<std::int16_t>(s[0] | (s[1] << 8));
                buffer[c][i] = static_cast<float>(value) * (1.0f / 32768.0f);
            }
        }
    } else if (bits_per_sample_ == 8) {
        samples = static_cast<long>(count / channels);
        if (samples == 0) return true;
        float** buffer = vorbis_analysis_buffer(&dsp_state_, static_cast<int>(samples));
        for (long i = 0; i < samples; ++i) {
            for (std::uint32_t c = 0; c < channels; ++c) {
                const int value = bytes[static_cast<std::uint32_t>(i) * channels + c];
                buffer[c][i] = static_cast<float>(value - 128) * (1.0f / 128.0f);
            }
        }
    } else {
        return false;
    }
    vorbis_analysis_wrote(&dsp_state_, static_cast<int>(samples));
    FlushPackets();
    return true;
}

void COggEncoder::FlushPackets() {
    while (vorbis_analysis_blockout(&dsp_state_, &block_) == 1) {
        vorbis_analysis(&block_, nullptr);
        vorbis_bitrate_addblock(&block_);
        while (vorbis_bitrate_flushpacket(&dsp_state_, &packet_) == 1) {
            StampPacket(packet_);
        }
    }
}

bool COggEncoder::TakePages(bool flush, std::vector<std::uint8_t>& out) {
    out.clear();
    if (!initialised_) return false;
    bool any = false;
    for (;;) {
        const int got = flush ? ogg_stream_flush(&stream_state_, &page_)
                              : ogg_stream_pageout(&stream_state_, &page_);
        if (got == 0) break;
        any = true;
        out.insert(out.end(), page_.header, page_.header + page_.header_len);
        out.insert(out.end(), page_.body, page_.body + page_.body_len);
    }
    return any;
}

void COggEncoder::StampPacket(ogg_packet& packet) {
    const auto length = static_cast<std::size_t>(packet.bytes);
    stamped_.resize(length + kStampBytes);
    PutLe32(stamped_.data(), ProcessClockMs());
    if (length > 0) std::memcpy(stamped_.data() + kStampBytes, packet.packet, length);

    ogg_packet stamped = packet;
    stamped.packet = stamped_.data();
    stamped.bytes = static_cast<long>(stamped_.size());
    ogg_stream_packetin(&stream_state_, &stamped);
    // The library's own packet memory stays the library's; our record is done.
    packet = ogg_packet{};
}

}  // namespace halvora
