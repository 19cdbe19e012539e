package quillon.audio;

/**
 * Splits a record of whole Ogg pages into pages, checking each page's capture
 * pattern, version, length and checksum. A record whose bytes do not parse is
 * cut off at the first bad page: the pages before it are still used.
 */
final class OggPageParser {
    private static final int HEADER_BYTES = 27;
    private static final int[] CRC_TABLE = crcTable();

    private final byte[] data;
    private final int end;
    private int at;

    OggPageParser(byte[] data, int offset, int length) {
        this.data = data;
        this.at = offset;
        this.end = offset + length;
    }

    /** The next page, or null at the end of the record or at a damaged page. */
    OggPage next() {
        if (end - at < HEADER_BYTES) return null;
        if (data[at] != 'O' || data[at + 1] != 'g' || data[at + 2] != 'g' || data[at + 3] != 'S' || data[at + 4] != 0) {
            return null;
        }
        int count = data[at + 26] & 0xFF;
        int headerLength = HEADER_BYTES + count;
        if (end - at < headerLength) return null;
        int[] segments = new int[count];
        int bodyLength = 0;
        for (int i = 0; i < count; i++) {
            segments[i] = data[at + HEADER_BYTES + i] & 0xFF;
            bodyLength += segments[i];
        }
        if (end - at - headerLength < bodyLength) return null;
        int pageEnd = at + headerLength + bodyLength;
        if (crc(data, at, pageEnd) != le32(data, at + 22)) return null;

        OggPage page = new OggPage();
        page.flags = data[at + 5] & 0xFF;
        page.granule = (le32(data, at + 6) & 0xFFFFFFFFL) | ((long) le32(data, at + 10) << 32);
        page.serial = le32(data, at + 14);
        page.sequence = le32(data, at + 18);
        page.segments = segments;
        page.data = data;
        page.bodyStart = at + headerLength;
        page.bodyEnd = pageEnd;
        at = pageEnd;
        return page;
    }

    static int le32(byte[] b, int i) {
        return (b[i] & 0xFF) | ((b[i + 1] & 0xFF) << 8) | ((b[i + 2] & 0xFF) << 16) | ((b[i + 3] & 0xFF) << 24);
    }

    /** The Ogg checksum of a page, computed with its checksum field taken as zero. */
    private static int crc(byte[] b, int start, int stop) {
        int crc = 0;
        for (int i = start; i < stop; i++) {
            int v = (i >= start + 22 && i < start + 26) ? 0 : b[i] & 0xFF;
            crc = (crc << 8) ^ CRC_TABLE[((crc >>> 24) ^ v) & 0xFF];
        }
        return crc;
    }

    private static int[] crcTable() {
        int[] t = new int[256];
        for (int i = 0; i < 256; i++) {
            int r = i << 24;
            for (int k = 0; k < 8; k++) r = (r & 0x80000000) != 0 ? (r << 1) ^ 0x04C11DB7 : r << 1;
            t[i] = r;
        }
        return t;
    }
}
