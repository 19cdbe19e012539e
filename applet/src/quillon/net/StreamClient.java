package quillon.net;

import java.io.BufferedInputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;

/**
 * One endless stream connection ("audiovideo" or "chat") on its own thread:
 * connect, send the request, read packets and hand them to the listener; when
 * the stream ends, reconnect after a pause that doubles up to a limit and
 * starts again from the shortest once a stream has delivered packets.
 */
public final class StreamClient implements Runnable {
    public static final long FIRST_RETRY_MS = 500;
    public static final long MAX_RETRY_MS = 16000;
    private static final int CONNECT_TIMEOUT_MS = 5000;
    /** The server sends a status packet on chat streams every 5 s and media constantly. */
    private static final int READ_TIMEOUT_MS = 30000;

    private final String host;
    private final int port;
    private final byte[] request;
    private final StreamListener listener;
    private final String name;

    private final Object lock = new Object();
    // Guarded by lock: the current socket (closed by stop) and the stop request.
    private Socket socket;
    private boolean stopped;
    private Thread thread;

    public StreamClient(String host, int port, byte[] request, StreamListener listener, String name) {
        this.host = host;
        this.port = port;
        this.request = request.clone();
        this.listener = listener;
        this.name = name;
    }

    public String name() {
        return name;
    }

    public void start() {
        synchronized (lock) {
            if (thread != null) return;
            thread = new Thread(this, "quillon-" + name);
            thread.setDaemon(true);
            thread.start();
        }
    }

    /** Ends the connection and the reconnect loop; waits for the thread. */
    public void stop() {
        Thread t;
        synchronized (lock) {
            stopped = true;
            closeQuietly(socket);
            lock.notifyAll();
            t = thread;
        }
        if (t != null && t != Thread.currentThread()) {
            try {
                t.join(5000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    @Override
    public void run() {
        long retry = FIRST_RETRY_MS;
        while (!isStopped()) {
            boolean delivered = false;
            Exception cause = null;
            try {
                delivered = runOnce();
            } catch (Exception e) {
                cause = e;
            }
            if (isStopped()) break;
            try {
                listener.onDisconnected(this, cause);
            } catch (RuntimeException ignored) {
                // A listener failure must not end the reconnect loop.
            }
            if (delivered) retry = FIRST_RETRY_MS;
            synchronized (lock) {
                if (stopped) break;
                try {
                    lock.wait(retry);
                } catch (InterruptedException e) {
                    break;
                }
            }
            retry = Math.min(retry * 2, MAX_RETRY_MS);
        }
    }

    /** One connection; true when at least one packet arrived. */
    private boolean runOnce() throws IOException {
        Socket s = new Socket();
        synchronized (lock) {
            if (stopped) return false;
            socket = s;
        }
        boolean delivered = false;
        try {
            s.setTcpNoDelay(true);
            s.connect(new InetSocketAddress(host, port), CONNECT_TIMEOUT_MS);
            s.setSoTimeout(READ_TIMEOUT_MS);
            OutputStream out = s.getOutputStream();
            out.write(request);
            out.flush();
            PacketReader reader = new PacketReader(new BufferedInputStream(s.getInputStream(), 65536));
            reader.readReplyHeader();
            listener.onConnected(this);
            Packet p;
            while (!isStopped() && (p = reader.next()) != null) {
                delivered = true;
                listener.onPacket(this, p);
            }
        } finally {
            synchronized (lock) {
                socket = null;
            }
            closeQuietly(s);
        }
        return delivered;
    }

    private boolean isStopped() {
        synchronized (lock) {
            return stopped;
        }
    }

    private static void closeQuietly(Socket s) {
        if (s == null) return;
        try {
            s.close();
        } catch (IOException ignored) {
            // Closing is all that is left to do with it.
        }
    }
}
