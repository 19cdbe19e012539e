package quillon.net;

import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;

/**
 * Reads one stream reply: the HTTP header block, then packets of a 4-byte header
 * (16-bit little-endian length, key flag byte, kind byte) and their payloads.
 * A payload is at most 65535 bytes, so nothing read here is unbounded.
 */
public final class PacketReader {
    /** The reply header is a few fixed lines; anything longer is not our server. */
    public static final int MAX_HEADER_BYTES = 4096;

    private final InputStream in;
    private final byte[] head = new byte[4];

    public PacketReader(InputStream in) {
        this.in = in;
    }

    /**
     * Reads the reply header up to and including the empty line and returns it
     * without that line. Throws when the stream ends first, when the header is
     * too long or when the status is not 200.
     */
    public String readReplyHeader() throws IOException {
        StringBuilder text = new StringBuilder();
        int matched = 0; // how much of "\r\n\r\n" has just been seen
        while (matched < 4) {
            int b = in.read();
            if (b < 0) throw new EOFException("stream ended inside the reply header");
            if (text.length() >= MAX_HEADER_BYTES) throw new IOException("reply header too long");
            text.append((char) b);
            if (b == (matched % 2 == 0 ? '\r' : '\n')) matched++;
            else matched = (b == '\r') ? 1 : 0;
        }
        String header = text.substring(0, text.length() - 4);
        if (!header.startsWith("HTTP/1.") || header.length() < 12 || !header.substring(8, 12).equals(" 200")) {
            throw new IOException("unexpected reply: " + firstLine(header));
        }
        return header;
    }

    /**
     * Reads the next packet, or returns null when the stream ends cleanly
     * between packets. A stream that ends inside a packet throws EOFException.
     */
    public Packet next() throws IOException {
        int first = in.read();
        if (first < 0) return null;
        head[0] = (byte) first;
        readFully(head, 1, 3);
        int length = (head[0] & 0xFF) | ((head[1] & 0xFF) << 8);
        boolean key = (head[2] & 1) != 0;
        int kind = head[3] & 0xFF;
        byte[] payload = new byte[length];
        readFully(payload, 0, length);
        return new Packet(kind, key, payload);
    }

    private void readFully(byte[] buf, int off, int len) throws IOException {
        while (len > 0) {
            int n = in.read(buf, off, len);
            if (n < 0) throw new EOFException("stream ended inside a packet");
            off += n;
            len -= n;
        }
    }

    private static String firstLine(String s) {
        int eol = s.indexOf('\r');
        return eol < 0 ? s : s.substring(0, eol);
    }
}
