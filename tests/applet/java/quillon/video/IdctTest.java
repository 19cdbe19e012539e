package quillon.video;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertTrue;

import java.util.Random;

import org.junit.Test;

/**
 * The inverse DCT against the exact transform, with the accuracy limits that
 * decoders of this kind of video must meet (random blocks in three ranges,
 * both signs): peak error 1, per-position mean square error 0.06 and mean
 * error 0.015, overall mean square error 0.02 and mean error 0.0015.
 */
public class IdctTest {
    /** COS[x][u] = cos((2x + 1) u pi / 16) */
    static final double[][] COS = new double[8][8];

    static {
        for (int x = 0; x < 8; x++) {
            for (int u = 0; u < 8; u++) COS[x][u] = Math.cos((2 * x + 1) * u * Math.PI / 16);
        }
    }

    static double[][] exact(int[] coefficients) {
        double[][] out = new double[8][8];
        for (int y = 0; y < 8; y++) {
            for (int x = 0; x < 8; x++) {
                double s = 0;
                for (int v = 0; v < 8; v++) {
                    for (int u = 0; u < 8; u++) {
                        double cu = u == 0 ? Math.sqrt(0.5) : 1;
                        double cv = v == 0 ? Math.sqrt(0.5) : 1;
                        s += cu * cv * coefficients[v * 8 + u] * COS[x][u] * COS[y][v];
                    }
                }
                out[y][x] = s / 4;
            }
        }
        return out;
    }

    /** The exact forward DCT of a block of samples, rounded to integers as an encoder would. */
    static int[] forward(int[] samples) {
        int[] out = new int[64];
        for (int v = 0; v < 8; v++) {
            for (int u = 0; u < 8; u++) {
                double s = 0;
                for (int y = 0; y < 8; y++) {
                    for (int x = 0; x < 8; x++) {
                        s += samples[y * 8 + x] * COS[x][u] * COS[y][v];
                    }
                }
                double cu = u == 0 ? Math.sqrt(0.5) : 1;
                double cv = v == 0 ? Math.sqrt(0.5) : 1;
                out[v * 8 + u] = (int) Math.round(Math.max(-2048, Math.min(2047, cu * cv * s / 4)));
            }
        }
        return out;
    }

    @Test
    public void accuracyAgainstTheExactTransform() {
        int[][] ranges = {{-256, 255}, {-5, 5}, {-300, 300}};
        Idct idct = new Idct();
        for (int[] range : ranges) {
            for (int sign = 1; sign >= -1; sign -= 2) {
                Random random = new Random(range[1] * 31 + sign);
                int blocks = 10000;
                double[] err = new double[64];
                double[] sq = new double[64];
                int peak = 0;
                int[] block = new int[64];
                int[] out = new int[64];
                for (int n = 0; n < blocks; n++) {
                    int[] samples = new int[64];
                    for (int i = 0; i < 64; i++) {
                        samples[i] = sign * (range[0] + random.nextInt(range[1] - range[0] + 1));
                    }
                    int[] coefficients = forward(samples);
                    double[][] ref = exact(coefficients);
                    System.arraycopy(coefficients, 0, block, 0, 64);
                    idct.inverse(block, out);
                    for (int i = 0; i < 64; i++) {
                        int r = (int) Math.round(Math.max(-256, Math.min(255, ref[i / 8][i % 8])));
                        int got = Math.max(-256, Math.min(255, out[i]));
                        int e = got - r;
                        peak = Math.max(peak, Math.abs(e));
                        err[i] += e;
                        sq[i] += e * e;
                    }
                }
                String what = "range " + range[0] + ".." + range[1] + " sign " + sign;
                assertTrue(what + ": peak error " + peak, peak <= 1);
                double totalErr = 0;
                double totalSq = 0;
                for (int i = 0; i < 64; i++) {
                    assertTrue(what + ": mean square error at " + i, sq[i] / blocks <= 0.06);
                    assertTrue(what + ": mean error at " + i, Math.abs(err[i] / blocks) <= 0.015);
                    totalErr += err[i];
                    totalSq += sq[i];
                }
                assertTrue(what + ": overall mean square error", totalSq / (64.0 * blocks) <= 0.02);
                assertTrue(what + ": overall mean error", Math.abs(totalErr / (64.0 * blocks)) <= 0.0015);
            }
        }
    }

    @Test
    public void zeroBlockGivesZerosAndBlockIsClearedForReuse() {
        Idct idct = new Idct();
        int[] block = new int[64];
        int[] out = new int[64];
        block[0] = 80;
        block[9] = -33;
        idct.inverse(block, out);
        assertArrayEquals(new int[64], block);
        idct.inverse(block, out);
        assertArrayEquals(new int[64], out);
    }

    @Test
    public void constantBlocks() {
        Idct idct = new Idct();
        int[] out = new int[64];
        int[][] cases = {{8, 1}, {-8, -1}, {12, 1}, {13, 2}, {-12, -2}, {-11, -1}, {2040, 255}, {1024, 128}, {3, 0}, {4, 0}, {5, 1}};
        for (int[] c : cases) {
            int[] block = new int[64];
            block[0] = c[0];
            idct.inverse(block, out);
            for (int v : out) assertTrue("DC " + c[0] + " gives " + v, v == c[1]);
        }
    }
}
