#pragma once

#include <cstdint>
#include <vector>

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include "common/CMultiThreadClass.h"

namespace halvora {

// Turns captured PCM sound into one endless Ogg stream of Vorbis packets.
//
// Every packet that enters the Ogg stream, the three header packets included,
// is the Vorbis packet preceded by a 4-byte little-endian ProcessClockMs()
// stamp, so a viewer can pace the sound against the picture. Readers strip the
// stamp before handing a packet to a Vorbis decoder.
//
// Locking: the encoder is shared by the audio capture callback (Encode, then
// TakePages with flush) and the main thread's header step (WriteHeaders, then
// TakePages without flush). The lock inherited from CMultiThreadClass IS the
// encoder lock, and the methods below do NOT take it themselves: each user holds
// it across its whole pair of calls, so that the pages one user takes never hold
// packets the other is still adding:
//
//     std::lock_guard guard(encoder);
//     encoder.Encode(data, bytes);
//     encoder.TakePages(true, pages);
//
// Taken on its own; never around a list or queue lock.
class COggEncoder : public CMultiThreadClass {
public:
    // Vorbis quality of the broadcast: the lowest of the library's scale.
    static constexpr float kBroadcastQuality = -0.1f;
    // The one user comment of the comment header.
    static constexpr const char* kEncoderTag = "ENCODER";
    static constexpr const char* kEncoderName = "Zentravis Pellamor @";
    // Bytes of clock stamp in front of every packet.
    static constexpr std::uint32_t kStampBytes = 4;

    COggEncoder();
    ~COggEncoder();
    COggEncoder(const COggEncoder&) = delete;
    COggEncoder& operator=(const COggEncoder&) = delete;

    // Sets up the VBR encoder for interleaved PCM input of the given channel
    // count, rate and sample width (8 or 16 bits; other widths are accepted here
    // and refused by Encode). The stream's serial number is drawn from the
    // pseudo-random generator, initialised with the current time, in 0..32767.
    // False when the library refuses the settings; the encoder then stays not
    // initialised. Calling it again on an initialised encoder clears it first.
    bool Init(int channels, int sample_rate, float quality, int bits_per_sample);

    // Releases the library state; the encoder is not initialised afterwards.
    void Clear();

    // Appends a complete set of the identification, comment and setup packets
    // (each stamped) to the stream, behind what is already in it. Takes no page.
    // Always true; does nothing while not initialised.
    bool WriteHeaders();

    // Analyses `count` bytes of interleaved little-endian PCM (16-bit signed, or
    // 8-bit unsigned with 128 as silence) and puts every packet that is ready
    // into the stream. A trailing partial sample frame is ignored; 0 bytes (or
    // fewer than one frame) do nothing, since an empty write would end the
    // stream. False, with the stream unchanged, when the sample width is neither
    // 8 nor 16, and while not initialised (nothing done then).
    bool Encode(const std::uint8_t* bytes, std::uint32_t count);

    // Takes pages out of the stream and stores them in `out` (replacing its
    // contents), each page as its header bytes followed by its body bytes.
    // flush true forces out every packet held in the stream (ogg_stream_flush
    // until it yields nothing); flush false takes only the pages libogg counts
    // as complete (ogg_stream_pageout likewise). True when at least one page
    // came out; false and `out` empty otherwise, and always while not
    // initialised.
    bool TakePages(bool flush, std::vector<std::uint8_t>& out);

    bool Initialised() const { return initialised_; }
    int Channels() const { return channels_; }
    int SampleRate() const { return sample_rate_; }
    int BitsPerSample() const { return bits_per_sample_; }

private:
    // Puts `packet` into the stream with the clock stamp in front of its data.
    void StampPacket(ogg_packet& packet);
    // Moves every packet the bitrate manager has ready into the stream.
    void FlushPackets();

    // The libraries' state records, valid while initialised_.
    ogg_stream_state stream_state_{};
    ogg_page page_{};
    ogg_packet packet_{};
    vorbis_info info_{};
    vorbis_comment comment_{};
    vorbis_dsp_state dsp_state_{};
    vorbis_block block_{};

    // The input format given to Init.
    int channels_ = 0;
    int sample_rate_ = 0;
    int bits_per_sample_ = 0;
    bool initialised_ = false;

    // Reused storage for the stamped copy of a packet (ogg_stream_packetin
    // copies it into the stream).
    std::vector<std::uint8_t> stamped_;
};

}  // namespace halvora
