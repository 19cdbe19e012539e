package quillon.testing;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetAddress;
import java.net.ServerSocket;
import java.net.Socket;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.CopyOnWriteArrayList;
import java.util.concurrent.atomic.AtomicInteger;

import quillon.net.Packet;

/**
 * A small stand-in for the broadcast server, for the viewer's protocol tests:
 * it reads one request per connection as the server does, answers streams with
 * the stream reply header and scripted packets, acknowledges messages with the
 * bare status line and echoes chat lines to the chat streams as "guest: text".
 */
public final class FakeServer implements AutoCloseable {
    public static final String REPLY = "HTTP/1.0 200 OK\r\nDate: Thu, 10 Dec 2026 10:00:00 GMT\r\nServer: Orlanbrook/1.0.0\r\n"
            + "Connection: Keep-Alive\r\nContent-type: text/html\r\nContent-Length: 1000000000\r\n\r\n";

    private final ServerSocket listener;
    private final Thread acceptor;
    private volatile boolean closed;
    private final List<Packet> mediaScript;
    private final boolean closeMediaAfterScript;
    private final List<Socket> open = new CopyOnWriteArrayList<Socket>();
    private final List<OutputStream> chatStreams = new CopyOnWriteArrayList<OutputStream>();

    public final List<ServerSide> messages = Collections.synchronizedList(new ArrayList<ServerSide>());
    public final AtomicInteger mediaConnections = new AtomicInteger();
    public final AtomicInteger chatConnections = new AtomicInteger();

    public FakeServer(List<Packet> mediaScript, boolean closeMediaAfterScript) throws IOException {
        this.mediaScript = mediaScript;
        this.closeMediaAfterScript = closeMediaAfterScript;
        listener = new ServerSocket(0, 50, InetAddress.getByName("127.0.0.1"));
        acceptor = new Thread(new Runnable() {
            @Override
            public void run() {
                acceptLoop();
            }
        }, "fake-server");
        acceptor.setDaemon(true);
        acceptor.start();
    }

    public int port() {
        return listener.getLocalPort();
    }

    private void acceptLoop() {
        while (!closed) {
            try {
                final Socket s = listener.accept();
                open.add(s);
                Thread t = new Thread(new Runnable() {
                    @Override
                    public void run() {
                        serve(s);
                    }
                }, "fake-connection");
                t.setDaemon(true);
                t.start();
            } catch (IOException e) {
                return;
            }
        }
    }

    private void serve(Socket s) {
        try {
            byte[] request = readRequest(s.getInputStream());
            ServerSide read = ServerSide.read(request);
            OutputStream out = s.getOutputStream();
            switch (read.command) {
                case ServerSide.AUDIO_VIDEO:
                    mediaConnections.incrementAndGet();
                    out.write(REPLY.getBytes("ISO-8859-1"));
                    for (Packet p : mediaScript) {
                        writePacket(out, p);
                        Thread.sleep(2);
                    }
                    out.flush();
                    if (closeMediaAfterScript) {
                        s.close();
                        return;
                    }
                    waitUntilClosed(s);
                    return;
                case ServerSide.CHAT:
                    chatConnections.incrementAndGet();
                    out.write(REPLY.getBytes("ISO-8859-1"));
                    writePacket(out, new Packet(Packet.KIND_STATUS, false, "~online".getBytes("ISO-8859-1")));
                    writePacket(out, new Packet(42, false, new byte[] {1, 2, 3})); // a kind from the future
                    chatStreams.add(out);
                    waitUntilClosed(s);
                    return;
                case ServerSide.MESSAGE:
                case ServerSide.REGISTRATION:
                case ServerSide.CALL:
                    messages.add(read);
                    if (read.command == ServerSide.MESSAGE) {
                        byte[] line = concat("guest: ".getBytes("ISO-8859-1"), read.text, new byte[] {'\n'});
                        for (OutputStream chat : chatStreams) {
                            synchronized (chat) {
                                writePacket(chat, new Packet(Packet.KIND_CHAT, true, line));
                            }
                        }
                    }
                    out.write("HTTP/1.0 200 OK\r\n".getBytes("ISO-8859-1"));
                    Thread.sleep(20);
                    s.close();
                    return;
                default:
                    s.close();
            }
        } catch (Exception e) {
            // the viewer went away
        } finally {
            open.remove(s);
            try {
                s.close();
            } catch (IOException ignored) {
                // closing anyway
            }
        }
    }

    private void waitUntilClosed(Socket s) throws InterruptedException {
        while (!closed && !s.isClosed()) {
            try {
                s.setSoTimeout(100);
                if (s.getInputStream().read() < 0) return;
            } catch (java.net.SocketTimeoutException idle) {
                // still connected
            } catch (IOException gone) {
                return;
            }
        }
    }

    /** One read of at most 1024 bytes, as the server does (requests arrive in one piece). */
    private static byte[] readRequest(InputStream in) throws IOException {
        byte[] buf = new byte[1024];
        int n = in.read(buf);
        if (n < 0) return new byte[0];
        return java.util.Arrays.copyOf(buf, n);
    }

    static void writePacket(OutputStream out, Packet p) throws IOException {
        byte[] head = {(byte) p.payload.length, (byte) (p.payload.length >> 8), (byte) (p.key ? 1 : 0), (byte) p.kind};
        out.write(head);
        out.write(p.payload);
        out.flush();
    }

    static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] p : parts) out.write(p, 0, p.length);
        return out.toByteArray();
    }

    @Override
    public void close() throws IOException {
        closed = true;
        listener.close();
        for (Socket s : open) s.close();
    }
}
