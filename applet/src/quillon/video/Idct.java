package quillon.video;

/**
 * The 8x8 inverse DCT in fixed point, rows then columns, each 1-D transform
 * split into its even and odd halves. Constants carry 13 fraction bits and the
 * rows keep 3 extra bits for the columns, which keeps the result within one
 * step of the exact transform (the accuracy an MPEG-4 decoder must reach).
 */
final class Idct {
    private static final int BITS = 14;
    private static final int ROW_SHIFT = BITS - 6;
    private static final int COL_SHIFT = BITS + 6;

    /** EVEN[n][k]: weight of input 2k in output n (and 7-n); ODD[n][k]: of input 2k+1. */
    private static final int[][] EVEN = new int[4][4];
    private static final int[][] ODD = new int[4][4];

    static {
        for (int n = 0; n < 4; n++) {
            for (int k = 0; k < 4; k++) {
                EVEN[n][k] = weight(n, 2 * k);
                ODD[n][k] = weight(n, 2 * k + 1);
            }
        }
    }

    private static int weight(int n, int k) {
        double scale = k == 0 ? Math.sqrt(0.125) : 0.5;
        return (int) Math.round(scale * Math.cos((2 * n + 1) * k * Math.PI / 16) * (1 << BITS));
    }

    private final int[] rows = new int[64];

    /**
     * Transforms block (coefficients in natural order) into out, and clears
     * block so the caller can fill it again for the next block.
     */
    void inverse(int[] block, int[] out) {
        boolean onlyDc = true;
        for (int i = 1; i < 64; i++) {
            if (block[i] != 0) {
                onlyDc = false;
                break;
            }
        }
        if (onlyDc) {
            // Exact halves round down. The project's encoder (libavcodec)
            // reconstructs flat blocks that way, and agreeing with the
            // encoder's own reconstruction keeps P-frame drift small.
            int v = (block[0] + 3) >> 3;
            for (int i = 0; i < 64; i++) out[i] = v;
            block[0] = 0;
            return;
        }
        int[] r = rows;
        for (int row = 0; row < 64; row += 8) {
            int x0 = block[row], x1 = block[row + 1], x2 = block[row + 2], x3 = block[row + 3];
            int x4 = block[row + 4], x5 = block[row + 5], x6 = block[row + 6], x7 = block[row + 7];
            if ((x1 | x2 | x3 | x4 | x5 | x6 | x7) == 0) {
                int v = (EVEN[0][0] * x0 + (1 << (ROW_SHIFT - 1))) >> ROW_SHIFT;
                for (int n = 0; n < 8; n++) r[row + n] = v;
                continue;
            }
            for (int n = 0; n < 4; n++) {
                int[] e = EVEN[n];
                int[] o = ODD[n];
                int even = e[0] * x0 + e[1] * x2 + e[2] * x4 + e[3] * x6;
                int odd = o[0] * x1 + o[1] * x3 + o[2] * x5 + o[3] * x7;
                r[row + n] = (even + odd + (1 << (ROW_SHIFT - 1))) >> ROW_SHIFT;
                r[row + 7 - n] = (even - odd + (1 << (ROW_SHIFT - 1))) >> ROW_SHIFT;
            }
        }
        for (int col = 0; col < 8; col++) {
            long x0 = r[col], x1 = r[col + 8], x2 = r[col + 16], x3 = r[col + 24];
            long x4 = r[col + 32], x5 = r[col + 40], x6 = r[col + 48], x7 = r[col + 56];
            for (int n = 0; n < 4; n++) {
                int[] e = EVEN[n];
                int[] o = ODD[n];
                long even = e[0] * x0 + e[1] * x2 + e[2] * x4 + e[3] * x6;
                long odd = o[0] * x1 + o[1] * x3 + o[2] * x5 + o[3] * x7;
                out[col + 8 * n] = (int) ((even + odd + (1L << (COL_SHIFT - 1))) >> COL_SHIFT);
                out[col + 8 * (7 - n)] = (int) ((even - odd + (1L << (COL_SHIFT - 1))) >> COL_SHIFT);
            }
        }
        java.util.Arrays.fill(block, 0);
    }
}
