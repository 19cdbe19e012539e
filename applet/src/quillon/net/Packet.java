package quillon.net;

/** One packet of a stream: the 4-byte header's key flag and kind, and the payload. */
public final class Packet {
    public static final int KIND_STATUS = 0;
    public static final int KIND_VIDEO = 1;
    public static final int KIND_AUDIO = 3;
    public static final int KIND_CHAT = 255;

    public final int kind;
    public final boolean key;
    public final byte[] payload;

    public Packet(int kind, boolean key, byte[] payload) {
        this.kind = kind;
        this.key = key;
        this.payload = payload;
    }
}
