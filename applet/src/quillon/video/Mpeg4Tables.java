package quillon.video;

/**
 * The code tables of MPEG-4 Simple Profile video, written as the bit strings
 * of each code. Sign bits that follow a code are read separately.
 */
final class Mpeg4Tables {
    private Mpeg4Tables() {}

    /** Macroblock type and chroma pattern values: (type << 2) | cbpc; cbpc bit 1 = Cb, bit 0 = Cr. */
    static final int STUFFING = -1;

    /** mcbpc of I-VOPs: types 3 (intra) and 4 (intra with a quantiser change). */
    static final Vlc MCBPC_INTRA = new Vlc(
            new String[] {"1", "001", "010", "011", "0001", "000001", "000010", "000011", "000000001"},
            new int[] {12, 13, 14, 15, 16, 17, 18, 19, STUFFING});

    /** mcbpc of P-VOPs: types 0 inter, 1 inter+q, 2 inter with four vectors, 3 intra, 4 intra+q. */
    static final Vlc MCBPC_INTER = new Vlc(
            new String[] {
                "1", "0011", "0010", "000101",
                "011", "0000111", "0000110", "000000101",
                "010", "0000101", "0000100", "00000101",
                "00011", "00000100", "00000011", "0000011",
                "000100", "000000100", "000000011", "000000010",
                "000000001"},
            new int[] {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, STUFFING});

    /** Luminance coded block pattern as read for intra macroblocks (bit 3 = block 0); inter ones are inverted. */
    static final Vlc CBPY = new Vlc(
            new String[] {
                "0011", "00101", "00100", "1001", "00011", "0111", "000010", "1011",
                "00010", "000011", "0101", "1010", "0100", "1000", "0110", "11"},
            new int[] {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});

    /** Quantiser changes of dquant. */
    static final int[] DQUANT = {-1, -2, 1, 2};

    static final Vlc DC_SIZE_LUMA = new Vlc(
            new String[] {"011", "11", "10", "010", "001", "0001", "00001", "000001", "0000001",
                "00000001", "000000001", "0000000001", "00000000001"},
            new int[] {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});

    static final Vlc DC_SIZE_CHROMA = new Vlc(
            new String[] {"11", "10", "01", "001", "0001", "00001", "000001", "0000001", "00000001",
                "000000001", "0000000001", "00000000001", "000000000001"},
            new int[] {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});

    /** Magnitude of motion_code 0..32; a sign bit follows every code but that of 0. */
    static final Vlc MOTION_CODE = new Vlc(
            new String[] {
                "1", "01", "001", "0001", "000011", "0000101", "0000100", "0000011",
                "000001011", "000001010", "000001001", "0000010001", "0000010000", "0000001111",
                "0000001110", "0000001101", "0000001100", "0000001011", "0000001010", "0000001001",
                "0000001000", "0000000111", "0000000110", "0000000101", "0000000100", "00000000111",
                "00000000110", "00000000101", "00000000100", "00000000011", "00000000010",
                "000000000011", "000000000010"},
            sequence(33));

    /** Coefficient event value: (last << 16) | (run << 8) | level; the escape code is ESCAPE. */
    static final int ESCAPE = 1 << 20;

    /**
     * Intra coefficients: per (last, run), the codes of levels 1, 2, ... in
     * order. Rows: last 0 runs 0..14, then last 1 runs 0..20.
     */
    private static final String[][] INTRA_COEFFICIENTS = {
        {"10", "110", "1111", "01101", "01100", "010101", "010011", "010010", "0010111", "00011111",
            "00011110", "00011101", "000100101", "000100100", "000100011", "000100001", "0000100001",
            "0000100000", "0000001111", "0000001110", "00000000111", "00000000110", "00000100000",
            "00000100001", "000001010000", "000001010001", "000001010010"},
        {"1110", "010100", "0010110", "00011100", "000100000", "000011111", "0000001101", "00000100010",
            "000001010011", "000001010101"},
        {"01011", "0010101", "000011110", "0000001100", "000001010110"},
        {"010001", "00011011", "000011101", "0000001011"},
        {"010000", "000100010", "0000001010"},
        {"001101", "000011100", "0000001000"},
        {"0010010", "000011011", "000001010100"},
        {"0010100", "000011010", "000001010111"},
        {"00011001", "0000001001"},
        {"00011000", "00000100011"},
        {"00010111"}, {"000011001"}, {"000011000"}, {"0000000111"}, {"000001011000"},
    };
    private static final String[][] INTRA_COEFFICIENTS_LAST = {
        {"0111", "001100", "00010110", "000010111", "0000000110", "00000000101", "00000000100", "000001011001"},
        {"001111", "000010110", "0000000101"},
        {"001110", "0000000100"},
        {"0010001", "00000100100"},
        {"0010000", "00000100101"},
        {"0010011", "000001011010"},
        {"00010101", "000001011011"},
        {"00010100"}, {"00010011"}, {"00011010"}, {"000010101"}, {"000010100"}, {"000010011"},
        {"000010010"}, {"000010001"}, {"00000100110"}, {"00000100111"}, {"000001011100"},
        {"000001011101"}, {"000001011110"}, {"000001011111"},
    };

    /** Inter coefficients, laid out like the intra ones: last 0 runs 0..26, last 1 runs 0..40. */
    private static final String[][] INTER_COEFFICIENTS = {
        {"10", "1111", "010101", "0010111", "00011111", "000100101", "000100100", "0000100001",
            "0000100000", "00000000111", "00000000110", "00000100000"},
        {"110", "010100", "00011110", "0000001111", "00000100001", "000001010000"},
        {"1110", "00011101", "0000001110", "000001010001"},
        {"01101", "000100011", "0000001101"},
        {"01100", "000100010", "000001010010"},
        {"01011", "0000001100", "000001010011"},
        {"010011", "0000001011", "000001010100"},
        {"010010", "0000001010"},
        {"010001", "0000001001"},
        {"010000", "0000001000"},
        {"0010110", "000001010101"},
        {"0010101"}, {"0010100"}, {"00011100"}, {"00011011"}, {"000100001"}, {"000100000"},
        {"000011111"}, {"000011110"}, {"000011101"}, {"000011100"}, {"000011011"}, {"000011010"},
        {"00000100010"}, {"00000100011"}, {"000001010110"}, {"000001010111"},
    };
    private static final String[][] INTER_COEFFICIENTS_LAST = {
        {"0111", "000011001", "00000000101"},
        {"001111", "00000000100"},
        {"001110"}, {"001101"}, {"001100"}, {"0010011"}, {"0010010"}, {"0010001"}, {"0010000"},
        {"00011010"}, {"00011001"}, {"00011000"}, {"00010111"}, {"00010110"}, {"00010101"},
        {"00010100"}, {"00010011"}, {"000011000"}, {"000010111"}, {"000010110"}, {"000010101"},
        {"000010100"}, {"000010011"}, {"000010010"}, {"000010001"}, {"0000000111"}, {"0000000110"},
        {"0000000101"}, {"0000000100"}, {"00000100100"}, {"00000100101"}, {"00000100110"},
        {"00000100111"}, {"000001011000"}, {"000001011001"}, {"000001011010"}, {"000001011011"},
        {"000001011100"}, {"000001011101"}, {"000001011110"}, {"000001011111"},
    };
    private static final String ESCAPE_CODE = "0000011";

    static final CoefficientTable INTRA = new CoefficientTable(INTRA_COEFFICIENTS, INTRA_COEFFICIENTS_LAST);
    static final CoefficientTable INTER = new CoefficientTable(INTER_COEFFICIENTS, INTER_COEFFICIENTS_LAST);

    /** One coefficient code table with the limits its escape modes add to. */
    static final class CoefficientTable {
        final Vlc vlc;
        /** maxLevel[last][run]: the largest level with a code of its own; 0 where none. */
        final int[][] maxLevel = new int[2][64];
        /** maxRun[last][level]: the longest run with a code of its own; -1 where none. */
        final int[][] maxRun = new int[2][2048];

        CoefficientTable(String[][] notLast, String[][] last) {
            int count = 1;
            for (String[] r : notLast) count += r.length;
            for (String[] r : last) count += r.length;
            String[] codes = new String[count];
            int[] values = new int[count];
            int i = 0;
            for (int l = 0; l < 2; l++) {
                java.util.Arrays.fill(maxRun[l], -1);
                String[][] rows = l == 0 ? notLast : last;
                for (int run = 0; run < rows.length; run++) {
                    maxLevel[l][run] = rows[run].length;
                    for (int level = 1; level <= rows[run].length; level++) {
                        codes[i] = rows[run][level - 1];
                        values[i] = (l << 16) | (run << 8) | level;
                        maxRun[l][level] = Math.max(maxRun[l][level], run);
                        i++;
                    }
                }
            }
            codes[i] = ESCAPE_CODE;
            values[i] = ESCAPE;
            vlc = new Vlc(codes, values);
        }
    }

    static final int[] ZIGZAG = zigzag();
    /** Used for intra blocks with AC prediction from the left. */
    static final int[] ALTERNATE_VERTICAL = {
        0, 8, 16, 24, 1, 9, 2, 10, 17, 25, 32, 40, 48, 56, 57, 49, 41, 33, 26, 18, 3, 11, 4, 12,
        19, 27, 34, 42, 50, 58, 35, 43, 51, 59, 20, 28, 5, 13, 6, 14, 21, 29, 36, 44, 52, 60, 37, 45,
        53, 61, 22, 30, 7, 15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};
    /** Used for intra blocks with AC prediction from above: the transpose of the vertical scan. */
    static final int[] ALTERNATE_HORIZONTAL = transpose(ALTERNATE_VERTICAL);

    private static int[] zigzag() {
        int[] scan = new int[64];
        int i = 0;
        for (int sum = 0; sum < 15; sum++) {
            for (int k = 0; k <= sum; k++) {
                int row = (sum % 2 == 0) ? sum - k : k;
                int col = sum - row;
                if (row < 8 && col < 8) scan[i++] = row * 8 + col;
            }
        }
        return scan;
    }

    private static int[] transpose(int[] scan) {
        int[] t = new int[64];
        for (int i = 0; i < 64; i++) t[i] = (scan[i] % 8) * 8 + scan[i] / 8;
        return t;
    }

    private static int[] sequence(int n) {
        int[] v = new int[n];
        for (int i = 0; i < n; i++) v[i] = i;
        return v;
    }
}
