package quillon.video;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;

import org.junit.Test;

import quillon.net.Packet;
import quillon.testing.Fixtures;

/** Whatever a stream carries, nothing escapes the decoder, and pictures return at the next key frame. */
public class DamagedVideoTest {
    /** Collects what a VideoPlayer delivers, at the decoder's own size. */
    static final class Collector implements VideoPlayer.FrameSink {
        final List<Long> stamps = new ArrayList<Long>();
        final List<int[]> pictures = new ArrayList<int[]>();

        @Override
        public void onFrame(int[] argb, int width, int height, long stampMs) {
            stamps.add(stampMs);
            pictures.add(argb);
        }
    }

    static long stampOf(Packet p) {
        byte[] b = p.payload;
        return (b[0] & 0xFF) | ((b[1] & 0xFF) << 8) | ((b[2] & 0xFF) << 16) | ((long) (b[3] & 0xFF) << 24);
    }

    interface Damage {
        byte[] apply(byte[] payload, Random random);
    }

    @Test
    public void damagedFramesAreDroppedUntilTheNextKeyFrame() throws Exception {
        List<Packet> packets = Fixtures.packets("moving_100k");
        Collector clean = new Collector();
        VideoPlayer reference = new VideoPlayer(clean, 320, 240);
        for (Packet p : packets) reference.addPayload(p.payload, p.key);
        assertEquals(packets.size(), clean.pictures.size());

        Object[][] damages = {
            {"cut in half", new Damage() {
                public byte[] apply(byte[] p, Random r) {
                    return Arrays.copyOf(p, p.length / 2);
                }
            }},
            {"cut to the stamp", new Damage() {
                public byte[] apply(byte[] p, Random r) {
                    return Arrays.copyOf(p, 4);
                }
            }},
            {"empty", new Damage() {
                public byte[] apply(byte[] p, Random r) {
                    return new byte[0];
                }
            }},
            {"random bytes", new Damage() {
                public byte[] apply(byte[] p, Random r) {
                    byte[] junk = new byte[p.length];
                    r.nextBytes(junk);
                    return junk;
                }
            }},
            {"bits flipped after the headers", new Damage() {
                public byte[] apply(byte[] p, Random r) {
                    byte[] d = p.clone();
                    for (int i = 0; i < 40; i++) {
                        int at = 4 + d.length / 3 + r.nextInt(d.length - 4 - d.length / 3);
                        d[at] ^= (byte) (1 << r.nextInt(8));
                    }
                    return d;
                }
            }},
        };
        // Damage a key frame (12 is a P-frame, 20 a key frame) and see each case recover.
        int[] targets = {12, 20};
        for (Object[] damage : damages) {
            for (int target : targets) {
                Random random = new Random(target);
                Collector got = new Collector();
                VideoPlayer player = new VideoPlayer(got, 320, 240);
                for (int i = 0; i < packets.size(); i++) {
                    Packet p = packets.get(i);
                    byte[] payload = i == target ? ((Damage) damage[1]).apply(p.payload, random) : p.payload;
                    player.addPayload(payload, p.key);
                }
                String what = damage[0] + " at frame " + target;
                int resume = ((target / 10) + 1) * 10;
                // Every picture from the next key frame on is exactly the clean one.
                int fromResume = packets.size() - resume;
                assertTrue(what + ": pictures after recovery", got.pictures.size() >= fromResume);
                int offset = got.pictures.size() - fromResume;
                for (int i = 0; i < fromResume; i++) {
                    assertTrue(what + ": frame " + (resume + i),
                            Arrays.equals(clean.pictures.get(resume + i), got.pictures.get(offset + i)));
                    assertEquals(stampOf(packets.get(resume + i)), (long) got.stamps.get(offset + i));
                }
                // Before the damage, everything was shown.
                assertTrue(what + ": frames before the damage", offset >= target);
            }
        }
    }

    @Test
    public void randomDataNeverThrowsOutOfTheDecoder() throws Exception {
        List<Packet> packets = new ArrayList<Packet>(Fixtures.packets("motion_400k"));
        packets.addAll(Fixtures.packets("short_header_gobs"));
        Random random = new Random(1234);
        Mpeg4Decoder decoder = new Mpeg4Decoder();
        int refused = 0;
        for (int round = 0; round < 800; round++) {
            byte[] frame = packets.get(random.nextInt(packets.size())).payload;
            byte[] d;
            switch (round % 4) {
                case 0:
                    d = Arrays.copyOf(frame, 4 + random.nextInt(frame.length - 4));
                    break;
                case 1:
                    d = frame.clone();
                    for (int i = 0; i < 1 + random.nextInt(20); i++) d[4 + random.nextInt(d.length - 4)] = (byte) random.nextInt();
                    break;
                case 2:
                    d = new byte[random.nextInt(3000)];
                    random.nextBytes(d);
                    // a plausible start: the stream headers of a real key frame, then junk
                    System.arraycopy(packets.get(0).payload, 0, d, 0, Math.min(d.length, 40));
                    break;
                default:
                    d = new byte[4 + random.nextInt(200)];
                    random.nextBytes(d);
                    break;
            }
            try {
                decoder.decode(d, 4, Math.max(0, d.length - 4));
            } catch (DecodeException expected) {
                refused++;
            }
        }
        assertTrue("damaged frames are refused, not silently taken: " + refused, refused > 200);
    }

    @Test
    public void playerWaitsForAKeyFrameAtTheStart() throws Exception {
        List<Packet> packets = Fixtures.packets("moving_100k");
        Collector got = new Collector();
        VideoPlayer player = new VideoPlayer(got, 200, 150);
        for (int i = 5; i < packets.size(); i++) player.addPayload(packets.get(i).payload, packets.get(i).key);
        assertEquals(packets.size() - 10, got.pictures.size());
        assertEquals(stampOf(packets.get(10)), (long) got.stamps.get(0));
        assertEquals(200 * 150, got.pictures.get(0).length);
        assertEquals(5, player.framesDropped());
        assertFalse(player.waitingForKey());
    }

    @Test
    public void unsupportedStreamsAreRefusedNotMisdecoded() {
        Object[][] cases = {
            // VOL with MPEG quantisation (quant_type 1, no matrices loaded)
            {"MPEG quantisation", layer(false, true, false)},
            {"interlaced", layer(true, false, false)},
            {"VOP before a video object layer", new BitWriter().startCode(0xB6).bits(0, 2).bits(0, 1).bits(1, 1)
                    .bits(0, 4).bits(1, 1).bits(1, 1).bytes()},
            {"B-VOP", concat(layer(false, false, false), new BitWriter().startCode(0xB6).bits(2, 2).bits(0, 1)
                    .bits(1, 1).bits(0, 3).bits(1, 1).bits(1, 1).bytes())},
            {"P-VOP without a reference", concat(layer(false, false, false), new BitWriter().startCode(0xB6)
                    .bits(1, 2).bits(0, 1).bits(1, 1).bits(0, 3).bits(1, 1).bits(1, 1).bits(0, 1).bits(0, 3)
                    .bits(5, 5).bits(1, 3).bytes())},
        };
        for (Object[] c : cases) {
            byte[] data = (byte[]) c[1];
            try {
                new Mpeg4Decoder().decode(data, 0, data.length);
                fail(c[0] + " was decoded");
            } catch (DecodeException expected) {
                // refused, as it should be
            }
        }
    }

    @Test
    public void vopNotCodedRepeatsThePreviousPicture() throws Exception {
        List<Packet> packets = Fixtures.packets("moving_100k");
        Mpeg4Decoder decoder = new Mpeg4Decoder();
        byte[] first = decoder.decode(packets.get(0).payload, 4, packets.get(0).payload.length - 4).toI420();
        byte[] notCoded = new BitWriter().startCode(0xB6).bits(1, 2).bits(0, 1).bits(1, 1).bits(0, 3).bits(1, 1)
                .bits(0, 1).bytes();
        // time increment bits depend on the layer (resolution 8 -> 3 bits)
        Picture again = decoder.decode(notCoded, 0, notCoded.length);
        assertTrue(Arrays.equals(first, again.toI420()));
    }

    /** A video object layer header of 320x240 at time resolution 8, with chosen tools switched on. */
    static byte[] layer(boolean interlaced, boolean mpegQuant, boolean unused) {
        BitWriter w = new BitWriter().startCode(0x20);
        w.bits(0, 1).bits(1, 8).bits(0, 1).bits(1, 4).bits(0, 1); // random access, type, no id, aspect, no ctrl
        w.bits(0, 2).bits(1, 1).bits(8, 16).bits(1, 1).bits(0, 1); // rectangular, resolution 8, not fixed
        w.bits(1, 1).bits(320, 13).bits(1, 1).bits(240, 13).bits(1, 1);
        w.bits(interlaced ? 1 : 0, 1).bits(1, 1).bits(0, 1).bits(0, 1); // interlaced, obmc off, no sprite, 8 bit
        w.bits(mpegQuant ? 1 : 0, 1);
        if (mpegQuant) w.bits(0, 1).bits(0, 1);
        w.bits(1, 1).bits(1, 1).bits(0, 1).bits(0, 1); // no complexity est., no resync, no partitioning, no scal.
        return w.bytes();
    }

    static byte[] concat(byte[] a, byte[] b) {
        byte[] out = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, out, a.length, b.length);
        return out;
    }

    /** Writes bit fields most significant first, for hand-made headers. */
    static final class BitWriter {
        private final java.io.ByteArrayOutputStream out = new java.io.ByteArrayOutputStream();
        private int acc;
        private int count;

        BitWriter bits(int value, int n) {
            for (int i = n - 1; i >= 0; i--) {
                acc = (acc << 1) | ((value >> i) & 1);
                if (++count == 8) {
                    out.write(acc);
                    acc = 0;
                    count = 0;
                }
            }
            return this;
        }

        BitWriter startCode(int code) {
            while (count != 0) bits(count == 7 ? 0 : 1, 1); // stuffing: 0 then 1s
            return bits(0, 16).bits(1, 8).bits(code, 8);
        }

        byte[] bytes() {
            if (count > 0) bits(0, 1);
            while (count != 0) bits(1, 1);
            return out.toByteArray();
        }
    }
}
