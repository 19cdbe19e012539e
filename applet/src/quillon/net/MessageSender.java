package quillon.net;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;

/**
 * Sends one-shot requests (chat lines, registrations, call requests): connect,
 * write the request in one piece (the server reads it with a single read),
 * read the bare acknowledgement until the server closes.
 */
public final class MessageSender {
    public static final String ACK = "HTTP/1.0 200 OK\r\n";
    private static final int TIMEOUT_MS = 5000;
    private static final int MAX_REPLY = 4096;

    private final String host;
    private final int port;

    public MessageSender(String host, int port) {
        this.host = host;
        this.port = port;
    }

    /** True when the server acknowledged the request. */
    public boolean send(byte[] request) throws IOException {
        Socket socket = new Socket();
        try {
            socket.setTcpNoDelay(true);
            socket.connect(new InetSocketAddress(host, port), TIMEOUT_MS);
            socket.setSoTimeout(TIMEOUT_MS);
            OutputStream out = socket.getOutputStream();
            out.write(request);
            out.flush();
            InputStream in = socket.getInputStream();
            byte[] reply = new byte[MAX_REPLY];
            int got = 0;
            int n;
            while (got < reply.length && (n = in.read(reply, got, reply.length - got)) > 0) got += n;
            return new String(reply, 0, got, "ISO-8859-1").startsWith(ACK);
        } finally {
            socket.close();
        }
    }
}
