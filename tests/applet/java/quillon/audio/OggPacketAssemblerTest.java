package quillon.audio;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;

import java.io.ByteArrayOutputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.junit.Test;

/** Page parsing and packet joining on hand-made pages. */
public class OggPacketAssemblerTest {
    /** Builds one page holding the given lacing values and body, with a correct checksum. */
    static byte[] page(int flags, int serial, int sequence, int[] lacing, byte[] body) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        out.write('O');
        out.write('g');
        out.write('g');
        out.write('S');
        out.write(0);
        out.write(flags);
        for (int i = 0; i < 8; i++) out.write(0); // granule
        writeLe32(out, serial);
        writeLe32(out, sequence);
        writeLe32(out, 0); // checksum, filled in below
        out.write(lacing.length);
        for (int l : lacing) out.write(l);
        out.write(body, 0, body.length);
        byte[] p = out.toByteArray();
        int crc = 0;
        for (byte b : p) {
            crc ^= (b & 0xFF) << 24;
            for (int k = 0; k < 8; k++) crc = (crc & 0x80000000) != 0 ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
        }
        p[22] = (byte) crc;
        p[23] = (byte) (crc >> 8);
        p[24] = (byte) (crc >> 16);
        p[25] = (byte) (crc >> 24);
        return p;
    }

    static void writeLe32(ByteArrayOutputStream out, int v) {
        for (int i = 0; i < 4; i++) out.write(v >> (8 * i));
    }

    static byte[] filled(int length, int value) {
        byte[] b = new byte[length];
        Arrays.fill(b, (byte) value);
        return b;
    }

    static List<byte[]> feed(OggPacketAssembler assembler, byte[] record) {
        List<byte[]> out = new ArrayList<byte[]>();
        OggPageParser parser = new OggPageParser(record, 0, record.length);
        OggPage p;
        while ((p = parser.next()) != null) out.addAll(assembler.add(p));
        return out;
    }

    static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] p : parts) out.write(p, 0, p.length);
        return out.toByteArray();
    }

    @Test
    public void packetsSpanningPagesAndRecordsAreJoined() {
        // Packet A: 300 bytes over two pages (255 + 45), packet B: 10 bytes, packet C: exactly 255 bytes (255, 0).
        byte[] a = filled(300, 1);
        byte[] b = filled(10, 2);
        byte[] c = filled(255, 3);
        byte[] page1 = page(0, 7, 10, new int[] {255}, Arrays.copyOf(a, 255));
        byte[] page2 = page(OggPage.CONTINUED, 7, 11, new int[] {45, 10, 255, 0},
                concat(Arrays.copyOfRange(a, 255, 300), b, c));
        OggPacketAssembler assembler = new OggPacketAssembler();
        assertEquals(0, feed(assembler, page1).size());
        List<byte[]> packets = feed(assembler, page2); // the next record
        assertEquals(3, packets.size());
        assertArrayEquals(a, packets.get(0));
        assertArrayEquals(b, packets.get(1));
        assertArrayEquals(c, packets.get(2));
    }

    @Test
    public void theTailOfAPacketWhoseStartWasMissedIsDropped() {
        byte[] b = filled(20, 9);
        byte[] joinedLate = page(OggPage.CONTINUED, 7, 11, new int[] {45, 20}, concat(filled(45, 1), b));
        List<byte[]> packets = feed(new OggPacketAssembler(), joinedLate);
        assertEquals(1, packets.size());
        assertArrayEquals(b, packets.get(0));
    }

    @Test
    public void aMissingPageDropsTheUnfinishedPacket() {
        OggPacketAssembler assembler = new OggPacketAssembler();
        feed(assembler, page(0, 7, 10, new int[] {255}, filled(255, 1)));
        // page 11 was lost (a full queue on the server drops records); page 12 continues some other packet
        List<byte[]> packets = feed(assembler, page(OggPage.CONTINUED, 7, 12, new int[] {5, 3}, concat(filled(5, 4),
                filled(3, 5))));
        assertEquals(1, packets.size());
        assertArrayEquals(filled(3, 5), packets.get(0));
    }

    @Test
    public void damagedPagesEndTheRecord() {
        byte[] good = page(0, 7, 1, new int[] {4}, filled(4, 6));
        byte[] badSum = good.clone();
        badSum[good.length - 1] ^= 1;
        byte[] badVersion = good.clone();
        badVersion[4] = 1;
        byte[][] cases = {badSum, badVersion, Arrays.copyOf(good, good.length - 1), Arrays.copyOf(good, 20)};
        for (byte[] bad : cases) {
            byte[] record = concat(bad, good);
            OggPageParser parser = new OggPageParser(record, 0, record.length);
            assertNull(parser.next());
        }
        byte[] record = concat(good, badSum, good);
        assertEquals("pages before the damage still count", 1, feed(new OggPacketAssembler(), record).size());
    }
}
