#include "tests/support/OggDemuxer.h"

#include <cstring>

#include "common/ProcessClock.h"

namespace halvora::test {

OggDemuxer::OggDemuxer() { ogg_sync_init(&sync_); }

OggDemuxer::~OggDemuxer() {
    ogg_sync_clear(&sync_);
    if (serial_) ogg_stream_clear(&stream_);
}

void OggDemuxer::Feed(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        char* buffer = ogg_sync_buffer(&sync_, static_cast<long>(bytes.size()));
        std::memcpy(buffer, bytes.data(), bytes.size());
        ogg_sync_wrote(&sync_, static_cast<long>(bytes.size()));
    }
    ogg_page page;
    for (;;) {
        const int r = ogg_sync_pageseek(&sync_, &page);
        if (r == 0) break;  // needs more bytes
        if (r < 0) {
            skipped_bytes_ += -r;
            continue;
        }
        const int serial = ogg_page_serialno(&page);
        if (!serial_) {
            ogg_stream_init(&stream_, serial);
            serial_ = serial;
        }
        if (serial != *serial_) {
            ++foreign_pages_;
            continue;
        }
        pages_.push_back(OggPageInfo{serial, ogg_page_bos(&page) != 0,
                                     ogg_page_continued(&page) != 0, ogg_page_packets(&page),
                                     ogg_page_granulepos(&page),
                                     static_cast<std::size_t>(page.header_len + page.body_len)});
        if (ogg_stream_pagein(&stream_, &page) != 0) {
            skipped_bytes_ += page.header_len + page.body_len;
            continue;
        }
        DrainPackets();
    }
}

void OggDemuxer::DrainPackets() {
    ogg_packet packet;
    for (;;) {
        const int r = ogg_stream_packetout(&stream_, &packet);
        if (r == 0) break;
        if (r < 0) {
            ++holes_;
            continue;
        }
        OggPacketData out;
        out.bytes.assign(packet.packet, packet.packet + packet.bytes);
        out.bos = packet.b_o_s != 0;
        out.eos = packet.e_o_s != 0;
        out.granulepos = packet.granulepos;
        out.packetno = packet.packetno;
        packets_.push_back(std::move(out));
    }
}

std::vector<OggPacketData> OggDemuxer::TakePackets() {
    std::vector<OggPacketData> out;
    out.swap(packets_);
    return out;
}

std::optional<StampedPacket> SplitStamp(std::span<const std::uint8_t> packet) {
    if (packet.size() < 4) return std::nullopt;
    StampedPacket out;
    out.stamp = GetLe32(packet.data());
    out.vorbis.assign(packet.begin() + 4, packet.end());
    return out;
}

}  // namespace halvora::test
