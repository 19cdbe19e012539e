package quillon.video;

/**
 * A variable-length code decoded with one table lookup: the table is indexed
 * by the next maxLength bits and holds each code's value and length.
 */
final class Vlc {
    private final int maxLength;
    private final int[] table; // (value << 5) | length, or -1 where no code starts

    /** codes[i] is the bit string of values[i]. Values must fit in 26 bits (signed). */
    Vlc(String[] codes, int[] values) {
        int max = 0;
        for (String c : codes) max = Math.max(max, c.length());
        maxLength = max;
        table = new int[1 << max];
        java.util.Arrays.fill(table, -1);
        for (int i = 0; i < codes.length; i++) {
            String c = codes[i];
            int len = c.length();
            int prefix = Integer.parseInt(c, 2) << (max - len);
            for (int fill = 0; fill < (1 << (max - len)); fill++) {
                if (table[prefix | fill] != -1) throw new IllegalArgumentException("codes overlap at " + c);
                table[prefix | fill] = (values[i] << 5) | len;
            }
        }
    }

    int decode(BitReader in) throws DecodeException {
        int entry = table[in.peek(maxLength)];
        if (entry == -1) throw new DecodeException("invalid code");
        in.skip(entry & 31);
        return entry >> 5;
    }
}
