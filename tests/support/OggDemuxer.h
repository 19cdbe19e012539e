#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include <ogg/ogg.h>

namespace halvora::test {

// One packet as libogg hands it out, with the fields of its ogg_packet.
struct OggPacketData {
    std::vector<std::uint8_t> bytes;
    bool bos = false;
    bool eos = false;
    std::int64_t granulepos = -1;
    std::int64_t packetno = 0;
};

// What one page looked like, in the order the pages arrived.
struct OggPageInfo {
    int serial = 0;
    bool bos = false;
    bool continued = false;         // begins with the rest of an earlier packet
    int packets_completed = 0;      // packets that end on this page
    std::int64_t granulepos = -1;
    std::size_t size = 0;           // header + body bytes
};

// Reads one logical Ogg stream from bytes fed in any slices (whole pages, parts
// of pages, several pages at once). The stream is the one of the first page
// seen, which need not be a beginning-of-stream page: a viewer joining a
// broadcast starts at whatever page comes next. Pages of another serial are
// counted and skipped; gaps (lost pages) are counted, and the packets after them
// come out as usual.
class OggDemuxer {
public:
    OggDemuxer();
    ~OggDemuxer();
    OggDemuxer(const OggDemuxer&) = delete;
    OggDemuxer& operator=(const OggDemuxer&) = delete;

    void Feed(std::span<const std::uint8_t> bytes);

    // The packets completed since the last call, in stream order.
    std::vector<OggPacketData> TakePackets();

    const std::vector<OggPageInfo>& Pages() const { return pages_; }
    std::optional<int> Serial() const { return serial_; }
    int ForeignPages() const { return foreign_pages_; }
    int Holes() const { return holes_; }
    // Bytes that did not make a page: lost sync or corrupt pages. An unfinished
    // page at the end waits for more bytes and is not counted.
    long SkippedBytes() const { return skipped_bytes_; }

private:
    void DrainPackets();

    ogg_sync_state sync_{};
    ogg_stream_state stream_{};
    std::optional<int> serial_;
    std::vector<OggPageInfo> pages_;
    std::vector<OggPacketData> packets_;
    int foreign_pages_ = 0;
    int holes_ = 0;
    long skipped_bytes_ = 0;
};

// A packet of the broadcast's audio stream split into its clock stamp and the
// Vorbis packet behind it. Nothing when the packet is shorter than a stamp.
struct StampedPacket {
    std::uint32_t stamp = 0;
    std::vector<std::uint8_t> vorbis;
};
std::optional<StampedPacket> SplitStamp(std::span<const std::uint8_t> packet);

}  // namespace halvora::test
