package quillon.audio;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;

import org.junit.Test;

import quillon.net.Packet;
import quillon.testing.Fixtures;

/** The stamped Ogg Vorbis stream of a test tone, decoded back to the tone. */
public class StampedVorbisDecoderTest {
    /** Measures what it hears: sample count, RMS level, frequency from zero crossings, stamps. */
    static final class Meter implements PcmSink {
        long frames;
        double energy;
        long crossings;
        short previous;
        int rate;
        final List<Long> stamps = new ArrayList<Long>();
        /** Samples from this frame on are measured (skips the decoder's start-up). */
        long measureFrom;
        long measured;

        @Override
        public void onPcm(short[] samples, int count, int channels, int rate, long stampMs) {
            assertEquals(1, channels);
            this.rate = rate;
            stamps.add(stampMs);
            for (int i = 0; i < count; i++, frames++) {
                if (frames < measureFrom) continue;
                short s = samples[i];
                if ((s < 0) != (previous < 0)) crossings++;
                previous = s;
                energy += (double) s * s;
                measured++;
            }
        }

        double frequency() {
            return crossings / 2.0 / (measured / (double) rate);
        }

        double rms() {
            return Math.sqrt(energy / measured);
        }
    }

    static void feed(StampedVorbisDecoder decoder, List<Packet> records) {
        for (Packet p : records) {
            assertEquals(Packet.KIND_AUDIO, p.kind);
            decoder.addRecord(p.payload);
        }
    }

    static void assertTone(String what, Meter m, double frequency, long minFrames) {
        assertTrue(what + ": " + m.frames + " frames decoded", m.frames >= minFrames);
        assertEquals(what + ": rate", 8000, m.rate);
        assertEquals(what + ": frequency", frequency, m.frequency(), 3.0);
        // The tone was written at 12000 (peak); Vorbis at its lowest quality keeps the level within a few percent.
        assertEquals(what + ": level", 12000 / Math.sqrt(2), m.rms(), 12000 / Math.sqrt(2) * 0.1);
    }

    @Test
    public void decodesTheToneFromTheStart() throws Exception {
        List<Packet> records = Fixtures.packets("tone");
        Meter meter = new Meter();
        meter.measureFrom = 1000;
        StampedVorbisDecoder decoder = new StampedVorbisDecoder(meter);
        feed(decoder, records);
        // 90 buffers of 1382 samples went in; all but the encoder's last block come out.
        assertTone("from the start", meter, 440, 85 * 1382);
        assertEquals("repeated identical header sets do not restart decoding", 1, decoder.headerSetsStarted());
        assertEquals(0, decoder.packetsRefused());
        // The stamps are the server's clock: present, and never running backwards.
        for (int i = 1; i < meter.stamps.size(); i++) {
            assertTrue(meter.stamps.get(i) >= meter.stamps.get(i - 1));
        }
    }

    @Test
    public void decodesTheToneWhenJoinedAtARepeatedHeaderSet() throws Exception {
        List<Packet> records = Fixtures.packets("tone");
        List<Integer> keys = new ArrayList<Integer>();
        for (int i = 1; i < records.size(); i++) if (records.get(i).key) keys.add(i);
        assertTrue("the stream repeats its headers", keys.size() >= 2);
        for (int join : new int[] {keys.get(0), keys.get(0) - 3, keys.get(0) + 1}) {
            // Joining anywhere before or at a header set: sound starts at that set.
            Meter meter = new Meter();
            meter.measureFrom = 1000;
            StampedVorbisDecoder decoder = new StampedVorbisDecoder(meter);
            feed(decoder, records.subList(join, records.size()));
            assertTone("joined at record " + join, meter, 440, 30 * 1382);
        }
    }

    @Test
    public void nothingIsDecodedBeforeAHeaderSet() throws Exception {
        List<Packet> records = Fixtures.packets("tone");
        Meter meter = new Meter();
        StampedVorbisDecoder decoder = new StampedVorbisDecoder(meter);
        int firstRepeat = 0;
        for (int i = 1; i < records.size(); i++) {
            if (records.get(i).key) {
                firstRepeat = i;
                break;
            }
        }
        feed(decoder, records.subList(2, firstRepeat));
        assertEquals(0, meter.frames);
        assertTrue(!decoder.decoding());
    }

    @Test
    public void aDifferentHeaderSetStartsTheDecoderAfresh() throws Exception {
        List<Packet> first = Fixtures.packets("tone");
        List<Packet> second = Fixtures.packets("tone_b");
        final Meter before = new Meter();
        final Meter after = new Meter();
        final boolean[] switched = {false};
        StampedVorbisDecoder decoder = new StampedVorbisDecoder(new PcmSink() {
            @Override
            public void onPcm(short[] samples, int frames, int channels, int rate, long stampMs) {
                (switched[0] ? after : before).onPcm(samples, frames, channels, rate, stampMs);
            }
        });
        feed(decoder, first.subList(0, 40));
        switched[0] = true;
        after.measureFrom = 1000;
        feed(decoder, second);
        assertEquals(2, decoder.headerSetsStarted());
        assertEquals(660, after.frequency(), 3.0);
        assertTrue(after.frames > 30 * 1382);
    }

    @Test
    public void damagedRecordsAreSkippedAndDecodingGoesOn() throws Exception {
        List<Packet> records = Fixtures.packets("tone");
        Random random = new Random(99);
        Meter meter = new Meter();
        meter.measureFrom = 1000;
        StampedVorbisDecoder decoder = new StampedVorbisDecoder(meter);
        int damaged = 0;
        for (int i = 0; i < records.size(); i++) {
            byte[] payload = records.get(i).payload;
            if (i > 3 && i % 7 == 0 && payload.length > 40) {
                damaged++;
                switch (damaged % 4) {
                    case 0:
                        payload = Arrays.copyOf(payload, payload.length / 2); // page cut short
                        break;
                    case 1:
                        payload = payload.clone();
                        payload[payload.length - 5] ^= 0x55; // checksum no longer matches
                        break;
                    case 2:
                        payload = new byte[payload.length];
                        random.nextBytes(payload);
                        break;
                    default:
                        payload = new byte[0];
                        break;
                }
            }
            decoder.addRecord(payload);
        }
        assertTrue(damaged >= 8);
        assertEquals(440, meter.frequency(), 5.0);
        assertTrue(meter.frames > 60 * 1382);
    }
}
