package quillon.audio;

/** One Ogg page as read from a record: its header fields and where its segments lie. */
final class OggPage {
    static final int CONTINUED = 1;
    static final int BEGINNING = 2;
    static final int END = 4;

    int flags;
    long granule;
    int serial;
    int sequence;
    /** Segment lengths (0..255) from the lacing table. */
    int[] segments;
    /** The bytes the page lies in, and where its body starts and ends. */
    byte[] data;
    int bodyStart;
    int bodyEnd;

    boolean continued() {
        return (flags & CONTINUED) != 0;
    }
}
