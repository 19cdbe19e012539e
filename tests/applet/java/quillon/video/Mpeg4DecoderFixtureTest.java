package quillon.video;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.io.IOException;
import java.util.ArrayList;
import java.util.List;

import org.junit.Test;

import quillon.net.Packet;
import quillon.testing.Fixtures;

/** The decoder against libavcodec's pictures of the same streams. */
public class Mpeg4DecoderFixtureTest {
    static final String[] STREAMS = {"moving_20k", "moving_100k", "moving_800k", "motion_400k", "moving_tools",
        "short_header", "short_header_gobs"};

    /** Decodes every frame from the first packet on; the I420 pictures in order. */
    static List<byte[]> decodeAll(List<Packet> packets, Mpeg4Decoder decoder) throws DecodeException {
        List<byte[]> out = new ArrayList<byte[]>();
        for (Packet p : packets) {
            Picture picture = decoder.decode(p.payload, 4, p.payload.length - 4);
            assertNotNull(picture);
            out.add(picture.toI420());
        }
        return out;
    }

    @Test
    public void everyFrameMatchesLibavcodec() throws Exception {
        for (String name : STREAMS) {
            List<Packet> packets = Fixtures.packets(name);
            boolean qcif = name.startsWith("short_header");
            List<byte[]> reference = qcif ? Fixtures.frames(name, ".yuv", 176, 144) : Fixtures.frames(name, ".yuv");
            assertEquals(name + ": frames", reference.size(), packets.size());
            assertTrue(name + ": starts with a key frame", packets.get(0).key);
            List<byte[]> mine = decodeAll(packets, new Mpeg4Decoder());
            int farOff = 0;
            for (int i = 0; i < mine.size(); i++) {
                double psnr = Fixtures.psnr(mine.get(i), reference.get(i));
                assertTrue(name + " frame " + i + ": " + psnr + " dB against libavcodec", psnr >= 45);
                byte[] a = mine.get(i);
                byte[] b = reference.get(i);
                for (int j = 0; j < a.length; j++) {
                    if (Math.abs((a[j] & 0xFF) - (b[j] & 0xFF)) > 2) farOff++;
                }
            }
            // Two correct decoders differ only where their inverse DCTs round
            // differently, by a step or two. A wrong rounding rule or
            // prediction shows as samples further off, which the PSNR alone
            // lets through.
            assertTrue(name + ": " + farOff + " samples differ from libavcodec by more than 2", farOff < 50);
        }
    }

    @Test
    public void pictureAt100kbitIsCloseToTheSource() throws Exception {
        List<byte[]> mine = decodeAll(Fixtures.packets("moving_100k"), new Mpeg4Decoder());
        List<byte[]> source = Fixtures.frames("moving_100k", ".src.yuv");
        for (int i = 0; i < mine.size(); i++) {
            double psnr = Fixtures.psnr(mine.get(i), source.get(i));
            assertTrue("frame " + i + ": " + psnr + " dB against the source", psnr >= 30);
        }
    }

    @Test
    public void startingAtAnyKeyFrameGivesTheSamePictures() throws Exception {
        for (String name : new String[] {"moving_100k", "motion_400k"}) {
            List<Packet> packets = Fixtures.packets(name);
            List<byte[]> fromStart = decodeAll(packets, new Mpeg4Decoder());
            int keyFrames = 0;
            for (int k = 1; k < packets.size(); k++) {
                if (!packets.get(k).key) continue;
                keyFrames++;
                List<byte[]> joined = decodeAll(packets.subList(k, packets.size()), new Mpeg4Decoder());
                for (int i = 0; i < joined.size(); i++) {
                    assertArrayEquals(name + ": frame " + (k + i) + " when joined at " + k, fromStart.get(k + i),
                            joined.get(i));
                }
            }
            assertTrue(name + " has key frames after the first", keyFrames >= 3);
        }
    }

    @Test
    public void keyFramesComeEveryTenFramesWithTheirHeaders() throws Exception {
        List<Packet> packets = Fixtures.packets("moving_100k");
        for (int i = 0; i < packets.size(); i++) {
            assertEquals("key flag of frame " + i, i % 10 == 0, packets.get(i).key);
        }
    }

    @Test
    public void strongMotionStreamUsesTheHardTools() throws Exception {
        Mpeg4Decoder decoder = new Mpeg4Decoder();
        decodeAll(Fixtures.packets("motion_400k"), decoder);
        DecoderStatistics s = decoder.statistics();
        assertTrue("four-vector macroblocks: " + s.fourVectorMacroblocks, s.fourVectorMacroblocks > 100);
        assertTrue("AC-predicted macroblocks: " + s.acPredictedMacroblocks, s.acPredictedMacroblocks > 100);
        assertTrue("vector range beyond the smallest: fcode " + s.largestFcode, s.largestFcode >= 2);
        assertTrue("predictions reaching past the edges: " + s.edgePredictions, s.edgePredictions > 100);
        assertTrue("half-sample predictions: " + s.halfSamplePredictions, s.halfSamplePredictions > 1000);
        assertTrue("VOPs with rounding control set: " + s.roundingControlVops, s.roundingControlVops > 0);
        assertTrue("escape codes: " + s.escapeCodes, s.escapeCodes > 0);

        Mpeg4Decoder calm = new Mpeg4Decoder();
        decodeAll(Fixtures.packets("moving_20k"), calm);
        assertTrue("skipped macroblocks at 20 kbit/s", calm.statistics().skippedMacroblocks > 100);

        Mpeg4Decoder tools = new Mpeg4Decoder();
        decodeAll(Fixtures.packets("moving_tools"), tools);
        assertTrue("video packets after resync markers", tools.statistics().videoPackets > 20);
        assertTrue("quantiser changes", tools.statistics().quantiserChanges > 100);

        Mpeg4Decoder shortHeader = new Mpeg4Decoder();
        decodeAll(Fixtures.packets("short_header_gobs"), shortHeader);
        assertEquals("short header pictures", 20, shortHeader.statistics().shortHeaderPictures);
        assertTrue("groups of blocks with headers", shortHeader.statistics().videoPackets > 20);
    }
}
