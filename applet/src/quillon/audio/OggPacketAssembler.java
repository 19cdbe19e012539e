package quillon.audio;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.List;

/**
 * Joins page segments into packets. A packet may span pages (and so records);
 * when a page is missing (a gap in the sequence numbers, another stream, or a
 * viewer that joined in the middle of a packet) the incomplete packet is
 * dropped rather than glued to the wrong bytes.
 */
final class OggPacketAssembler {
    /** Vorbis packets of this stream are small; anything larger is damage. */
    static final int MAX_PACKET_BYTES = 256 * 1024;

    private final ByteArrayOutputStream partial = new ByteArrayOutputStream();
    private boolean havePartial;
    private boolean haveLastPage;
    private int lastSerial;
    private int lastSequence;

    /** Adds one page and returns the packets it completes. */
    List<byte[]> add(OggPage page) {
        List<byte[]> done = new ArrayList<byte[]>();
        boolean inSequence = haveLastPage && page.serial == lastSerial && page.sequence == lastSequence + 1;
        haveLastPage = true;
        lastSerial = page.serial;
        lastSequence = page.sequence;
        if (!inSequence || !page.continued()) {
            partial.reset();
            havePartial = false;
        }
        // A continued page whose start we do not have begins with the tail of
        // a packet: skip segments up to the end of that packet.
        boolean skipping = page.continued() && !havePartial;
        int at = page.bodyStart;
        for (int length : page.segments) {
            if (!skipping) {
                if (partial.size() + length > MAX_PACKET_BYTES) {
                    partial.reset();
                    skipping = true;
                } else {
                    partial.write(page.data, at, length);
                    havePartial = true;
                }
            }
            at += length;
            if (length < 255) {
                if (!skipping) done.add(partial.toByteArray());
                partial.reset();
                havePartial = false;
                skipping = false;
            }
        }
        return done;
    }

    void reset() {
        partial.reset();
        havePartial = false;
        haveLastPage = false;
    }
}
