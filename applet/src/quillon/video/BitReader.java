package quillon.video;

/**
 * Reads a frame's bits most significant first. The frame is copied into a
 * buffer with zero padding behind it, so a look-ahead near the end reads
 * zeros; consuming bits beyond the end throws, which is how a frame that is
 * cut short ends up as a DecodeException.
 */
final class BitReader {
    private static final int PADDING = 8;

    private byte[] buf = new byte[64 * 1024 + PADDING];
    private int limit; // in bits
    private int pos; // in bits

    void reset(byte[] data, int offset, int length) {
        if (buf.length < length + PADDING) buf = new byte[length + PADDING];
        System.arraycopy(data, offset, buf, 0, length);
        for (int i = length; i < length + PADDING; i++) buf[i] = 0;
        limit = length * 8;
        pos = 0;
    }

    int position() {
        return pos;
    }

    int bitsLeft() {
        return limit - pos;
    }

    /** The next n bits (1..24) without consuming them. */
    int peek(int n) {
        int p = pos >>> 3;
        int v = ((buf[p] & 0xFF) << 24) | ((buf[p + 1] & 0xFF) << 16) | ((buf[p + 2] & 0xFF) << 8) | (buf[p + 3] & 0xFF);
        return (v << (pos & 7)) >>> (32 - n);
    }

    /** The n bits (1..24) at bit position at, without consuming anything; zeros past the end. */
    int peekAt(int at, int n) {
        if (at >= limit + PADDING * 8 - 32) return 0;
        int p = at >>> 3;
        int v = ((buf[p] & 0xFF) << 24) | ((buf[p + 1] & 0xFF) << 16) | ((buf[p + 2] & 0xFF) << 8) | (buf[p + 3] & 0xFF);
        return (v << (at & 7)) >>> (32 - n);
    }

    void skip(int n) throws DecodeException {
        pos += n;
        if (pos > limit) throw new DecodeException("frame cut short");
    }

    int read(int n) throws DecodeException {
        if (n == 0) return 0;
        if (n > 24) {
            int high = read(n - 16);
            return (high << 16) | read(16);
        }
        int v = peek(n);
        skip(n);
        return v;
    }

    boolean readBit() throws DecodeException {
        return read(1) != 0;
    }

    void marker() throws DecodeException {
        // Marker bits guard against start-code emulation; a zero means the
        // headers are not what we think they are.
        if (read(1) != 1) throw new DecodeException("marker bit missing");
    }

    void alignToByte() {
        pos = (pos + 7) & ~7;
    }

    /**
     * Moves to the next byte-aligned start code prefix (00 00 01) and returns
     * its code byte after consuming the whole 32-bit code, or -1 at the end.
     */
    int nextStartCode() {
        alignToByte();
        int p = pos >>> 3;
        int end = limit >>> 3;
        while (p + 3 < end) {
            if (buf[p] == 0 && buf[p + 1] == 0 && buf[p + 2] == 1) {
                pos = (p + 4) * 8;
                return buf[p + 3] & 0xFF;
            }
            p++;
        }
        pos = limit;
        return -1;
    }
}
