package quillon.testing;

import java.io.ByteArrayOutputStream;

/**
 * How the server reads a viewer's request, written out here so that the
 * viewer's encoding can be checked against it: the target between "GET /" and
 * "HTTP", lower-cased, classified by keyword, then for messages %XX-decoded
 * and stripped of the "message?message=" prefix and the space before "HTTP".
 */
public final class ServerSide {
    public static final int PAGE = 0;
    public static final int VIDEO = 1;
    public static final int CHAT = 2;
    public static final int AUDIO = 3;
    public static final int CLIENT_JAR = 5;
    public static final int REGISTRATION = 6;
    public static final int MESSAGE = 7;
    public static final int AUDIO_VIDEO = 10;
    public static final int CALL = 200;

    public final int command;
    /** The decoded message text (bytes), for commands 6, 7 and 200. */
    public final byte[] text;

    private ServerSide(int command, byte[] text) {
        this.command = command;
        this.text = text;
    }

    public static ServerSide read(byte[] request) {
        int n = Math.min(request.length, 1024); // one read of at most 1024 bytes
        int zero = 0;
        while (zero < n && request[zero] != 0) zero++;
        String s = latin1(request, zero);
        int p = s.indexOf("GET /") + 1; // 1-based, 0 when absent
        int q = s.indexOf("HTTP") + 1;
        String target = substring(s, p + 5, q - p - 5).toLowerCase(java.util.Locale.ROOT);
        String[] keys = {"audiovideo", "video", "chat", "audio", "client.jar", "message"};
        int[] codes = {AUDIO_VIDEO, VIDEO, CHAT, AUDIO, CLIENT_JAR, -1};
        for (int i = 0; i < keys.length; i++) {
            if (target.contains(keys[i])) {
                if (codes[i] != -1) return new ServerSide(codes[i], null);
                String decoded = urlDecode(target);
                String text = substring(decoded, 17, decoded.length() - 17);
                byte[] bytes = bytes(text);
                if (text.contains("~al_start") || text.contains("~al_stop")) return new ServerSide(CALL, bytes);
                if (text.contains("registration")) return new ServerSide(REGISTRATION, bytes);
                return new ServerSide(MESSAGE, bytes);
            }
        }
        return new ServerSide(PAGE, null);
    }

    /** The five values of a registration text, cut at the first occurrence of each key. */
    public static String[] registrationValues(String text) {
        int n = text.length();
        int pn = text.indexOf("name=") + 1, pc = text.indexOf("company=") + 1, pe = text.indexOf("email=") + 1;
        int pp = text.indexOf("phone=") + 1, pi = text.indexOf("interest=") + 1;
        return new String[] {
            substring(text, pn + 5, pc - pn - 6), substring(text, pc + 8, pe - pc - 9),
            substring(text, pe + 6, pp - pe - 7), substring(text, pp + 6, pi - pp - 7),
            substring(text, pi + 9, n - pi - 8)};
    }

    /** 1-based start and a count, as the server's string routine takes them. */
    static String substring(String s, int start, int count) {
        if (start < 1) start = 1;
        if (start > s.length() || count <= 0) return "";
        int end = Math.min(s.length(), start - 1 + count);
        return s.substring(start - 1, end);
    }

    static String urlDecode(String s) {
        s = s.replace('+', ' ');
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < s.length(); i++) {
            char c = s.charAt(i);
            if (c == '%') {
                String hex = i + 2 < s.length() ? s.substring(i + 1, i + 3) : s.substring(Math.min(i + 1, s.length()));
                i += 2;
                try {
                    int v = hex.length() == 2 ? Integer.parseInt(hex, 16) : 0;
                    if (v >= 1 && v <= 255) out.write(v);
                } catch (NumberFormatException notHex) {
                    // nothing is appended
                }
            } else {
                out.write(c);
            }
        }
        return latin1(out.toByteArray(), out.size());
    }

    private static String latin1(byte[] b, int n) {
        char[] c = new char[n];
        for (int i = 0; i < n; i++) c[i] = (char) (b[i] & 0xFF);
        return new String(c);
    }

    private static byte[] bytes(String latin1) {
        byte[] b = new byte[latin1.length()];
        for (int i = 0; i < b.length; i++) b[i] = (byte) latin1.charAt(i);
        return b;
    }
}
