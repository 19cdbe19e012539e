package quillon.net;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.EOFException;
import java.io.IOException;
import java.io.InputStream;
import java.util.Random;

import org.junit.Test;

public class PacketReaderTest {
    static final String REPLY = "HTTP/1.0 200 OK\r\nDate: Thu, 10 Dec 2026 10:00:00 GMT\r\nServer: Orlanbrook/1.0.0\r\n"
            + "Connection: Keep-Alive\r\nContent-type: text/html\r\nContent-Length: 1000000000\r\n\r\n";

    static void writePacket(ByteArrayOutputStream out, int kind, int key, byte[] payload) {
        out.write(payload.length & 0xFF);
        out.write(payload.length >> 8);
        out.write(key);
        out.write(kind);
        out.write(payload, 0, payload.length);
    }

    /** Delivers at most a few bytes per read, as a slow network does. */
    static InputStream trickle(final byte[] data, final int chunk) {
        return new InputStream() {
            int at;

            @Override
            public int read() {
                return at < data.length ? data[at++] & 0xFF : -1;
            }

            @Override
            public int read(byte[] b, int off, int len) {
                if (at >= data.length) return -1;
                int n = Math.min(Math.min(len, chunk), data.length - at);
                System.arraycopy(data, at, b, off, n);
                at += n;
                return n;
            }
        };
    }

    @Test
    public void readsPacketsOfEveryLengthKindAndKeyFlag() throws IOException {
        int[][] cases = {
            // length, key flag byte, kind
            {0, 0, 3}, {1, 1, 1}, {7, 0, 0}, {255, 1, 255}, {256, 0, 3}, {5000, 1, 1}, {65535, 0, 1}, {12, 1, 77},
        };
        Random random = new Random(7);
        ByteArrayOutputStream stream = new ByteArrayOutputStream();
        stream.write(REPLY.getBytes("ISO-8859-1"), 0, REPLY.length());
        byte[][] payloads = new byte[cases.length][];
        for (int i = 0; i < cases.length; i++) {
            payloads[i] = new byte[cases[i][0]];
            random.nextBytes(payloads[i]);
            writePacket(stream, cases[i][2], cases[i][1], payloads[i]);
        }
        PacketReader reader = new PacketReader(trickle(stream.toByteArray(), 3));
        assertTrue(reader.readReplyHeader().contains("Content-Length: 1000000000"));
        for (int i = 0; i < cases.length; i++) {
            Packet p = reader.next();
            assertEquals("kind of packet " + i, cases[i][2], p.kind);
            assertEquals("key flag of packet " + i, cases[i][1] == 1, p.key);
            assertArrayEquals("payload of packet " + i, payloads[i], p.payload);
        }
        assertNull("clean end between packets", reader.next());
    }

    @Test
    public void keyFlagIsItsLowestBit() throws IOException {
        // The server forms the header as one 32-bit value; only the key flag's lowest bit means anything.
        byte[] stream = {5, 0, 1, 1, 1, 2, 3, 4, 5, 0, 0, 0, (byte) 255};
        PacketReader reader = new PacketReader(new ByteArrayInputStream(stream));
        Packet p = reader.next();
        assertTrue(p.key);
        assertEquals(5, p.payload.length);
        Packet chat = reader.next();
        assertEquals(255, chat.kind);
        assertEquals(0, chat.payload.length);
    }

    @Test
    public void streamCutInsideAPacketIsAnError() throws IOException {
        byte[][] cut = {
            {10},                      // inside the header
            {10, 0, 0, 1, 1, 2, 3},    // inside the payload
        };
        for (byte[] c : cut) {
            try {
                new PacketReader(new ByteArrayInputStream(c)).next();
                fail("a stream cut after " + c.length + " bytes must not give a packet");
            } catch (EOFException expected) {
                // what the stream client treats as the end of the connection
            }
        }
    }

    @Test
    public void replyHeaderMustBeA200WithinBounds() throws IOException {
        String[] bad = {
            "HTTP/1.0 404 Not Found\r\n\r\n",
            "SSH-2.0-OpenSSH\r\n\r\n",
            "HTTP/1.0 200 OK\r\nDate: cut short",
        };
        for (String reply : bad) {
            try {
                new PacketReader(new ByteArrayInputStream(reply.getBytes("ISO-8859-1"))).readReplyHeader();
                fail("accepted " + reply);
            } catch (IOException expected) {
                // refused
            }
        }
        byte[] endless = new byte[PacketReader.MAX_HEADER_BYTES + 100];
        java.util.Arrays.fill(endless, (byte) 'x');
        try {
            new PacketReader(new ByteArrayInputStream(endless)).readReplyHeader();
            fail("an endless header must be refused, not read forever");
        } catch (IOException expected) {
            assertTrue(expected.getMessage().contains("too long"));
        }
    }

    @Test
    public void headerEndIsFoundAfterAStrayCarriageReturn() throws IOException {
        byte[] reply = "HTTP/1.0 200 OK\r\nX: a\r\r\n\r\n".getBytes("ISO-8859-1");
        byte[] packet = {1, 0, 0, 0, 42};
        byte[] all = new byte[reply.length + packet.length];
        System.arraycopy(reply, 0, all, 0, reply.length);
        System.arraycopy(packet, 0, all, reply.length, packet.length);
        PacketReader reader = new PacketReader(new ByteArrayInputStream(all));
        reader.readReplyHeader();
        assertEquals(42, reader.next().payload[0]);
    }
}
