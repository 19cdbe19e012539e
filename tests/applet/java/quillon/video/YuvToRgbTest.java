package quillon.video;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.Arrays;

import org.junit.Test;

public class YuvToRgbTest {
    static Picture flat(int y, int u, int v) {
        Picture p = new Picture(32, 16);
        Arrays.fill(p.y, (byte) y);
        Arrays.fill(p.u, (byte) u);
        Arrays.fill(p.v, (byte) v);
        return p;
    }

    static void assertColour(String what, int expected, int argb) {
        for (int shift = 0; shift < 24; shift += 8) {
            int e = (expected >> shift) & 0xFF;
            int g = (argb >> shift) & 0xFF;
            assertTrue(what + ": expected " + Integer.toHexString(expected) + " got " + Integer.toHexString(argb),
                    Math.abs(e - g) <= 2);
        }
        assertEquals(what + ": opaque", 0xFF, argb >>> 24);
    }

    @Test
    public void studioRangeColours() {
        Object[][] cases = {
            {"black", flat(16, 128, 128), 0x000000},
            {"white", flat(235, 128, 128), 0xFFFFFF},
            {"grey", flat(126, 128, 128), 0x808080},
            {"red", flat(81, 90, 240), 0xFF0000},
            {"green", flat(145, 54, 34), 0x00FF00},
            {"blue", flat(41, 240, 110), 0x0000FF},
        };
        for (Object[] c : cases) {
            int[] out = YuvToRgb.convert((Picture) c[1], 40, 20);
            assertEquals(800, out.length);
            for (int argb : out) assertColour((String) c[0], (Integer) c[2], argb);
        }
    }

    @Test
    public void scalingKeepsEdgesInPlace() {
        // Left half dark, right half bright: after scaling 32 -> 64 wide the
        // change sits in the middle, and the outer columns keep their values.
        Picture p = flat(16, 128, 128);
        for (int j = 0; j < 16; j++) Arrays.fill(p.y, j * p.codedWidth + 16, j * p.codedWidth + 32, (byte) 235);
        int[] out = YuvToRgb.convert(p, 64, 8);
        for (int j = 0; j < 8; j++) {
            assertEquals(0, out[j * 64] & 0xFF);
            assertEquals(255, out[j * 64 + 63] & 0xFF);
            assertEquals(0, out[j * 64 + 30] & 0xFF);
            assertEquals(255, out[j * 64 + 33] & 0xFF);
        }
    }
}
