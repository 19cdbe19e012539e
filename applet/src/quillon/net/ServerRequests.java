package quillon.net;

import java.io.ByteArrayOutputStream;
import java.nio.charset.Charset;

/**
 * The requests a viewer sends, byte for byte.
 *
 * The server lower-cases the request target and classifies it by the first of
 * "audiovideo", "video", "chat", "audio", "client.jar", "message" that it
 * contains, and only then decodes %XX escapes. So a message travels with every
 * byte except the digits 0-9 written as an escape (a space as "+"): no letter
 * is sent plainly, no keyword can appear, "HTTP" cannot end the target early,
 * and letters keep their case (escapes are decoded after the lower-casing).
 * The escapes use upper-case hex digits; none of "chat", "video", "audio",
 * "client.jar" or "HTTP" can be spelled from 0-9, A-F and "%".
 *
 * After decoding, the server looks for "~al_start", "~al_stop" and
 * "registration" anywhere in a message; a chat line containing one of these
 * words would be taken as a call or registration request, so chat lines have
 * the first letter of such a word sent in upper case ("~Al_start",
 * "Registration"). Registration values have "=" replaced by the full-width
 * equals sign, since "name=", "company=" and the other keys must not occur
 * inside a value, and get the same treatment of the three words.
 *
 * The server reads one request of at most 1024 bytes, so a message is cut (at a
 * character boundary) to what fits.
 */
public final class ServerRequests {
    /** The server reads the request with one read of at most this many bytes. */
    public static final int MAX_REQUEST_BYTES = 1024;

    static final Charset UTF8 = Charset.forName("UTF-8");
    private static final String REQUEST_END = " HTTP/1.0\r\n\r\n";
    private static final String MESSAGE_START = "GET /message?message=";
    private static final char[] HEX = "0123456789ABCDEF".toCharArray();
    private static final String[] GUARDED_WORDS = {"~al_start", "~al_stop", "registration"};

    private ServerRequests() {}

    /** The request for the audio-and-video stream. */
    public static byte[] audioVideoStream() {
        return ascii("GET /audiovideo" + REQUEST_END);
    }

    /** The request for the chat stream. */
    public static byte[] chatStream() {
        return ascii("GET /chat" + REQUEST_END);
    }

    /** A chat line; cut to what fits in one request. */
    public static byte[] chatMessage(String text) {
        return message("", guardWords(text));
    }

    /** The call start request. */
    public static byte[] callStart() {
        return message("", "~al_start");
    }

    /** The call stop request. */
    public static byte[] callStop() {
        return message("", "~al_stop");
    }

    /**
     * A registration. The values share one request; each is cut to its share
     * of the room when together they would not fit.
     */
    public static byte[] registration(String name, String company, String email, String phone, String interest) {
        String[] keys = {"name=", "company=", "email=", "phone=", "interest="};
        String[] values = {name, company, email, phone, interest};
        int fixed = MESSAGE_START.length() + REQUEST_END.length() + encodedLength("registration");
        for (String k : keys) fixed += encodedLength("&" + k);
        int room = MAX_REQUEST_BYTES - fixed;
        byte[][] encodedValues = new byte[values.length][];
        int total = 0;
        for (int i = 0; i < values.length; i++) {
            encodedValues[i] = utf8(guardValue(values[i] == null ? "" : values[i]));
            total += encodedLength(encodedValues[i]);
        }
        ByteArrayOutputStream plain = new ByteArrayOutputStream();
        writeAscii(plain, "registration");
        for (int i = 0; i < values.length; i++) {
            writeAscii(plain, "&" + keys[i]);
            byte[] v = encodedValues[i];
            if (total > room) v = cutToFit(v, room / values.length);
            plain.write(v, 0, v.length);
        }
        return messageFromBytes(plain.toByteArray());
    }

    /** Percent-encodes bytes as described above. */
    public static String encode(byte[] bytes) {
        StringBuilder out = new StringBuilder(bytes.length * 3);
        for (byte value : bytes) {
            int b = value & 0xFF;
            if (b >= '0' && b <= '9') {
                out.append((char) b);
            } else if (b == ' ') {
                out.append('+');
            } else {
                out.append('%').append(HEX[b >> 4]).append(HEX[b & 15]);
            }
        }
        return out.toString();
    }

    private static byte[] message(String prefix, String text) {
        byte[] bytes = utf8(prefix + text);
        return messageFromBytes(cutToFit(bytes, MAX_REQUEST_BYTES - MESSAGE_START.length() - REQUEST_END.length()));
    }

    private static byte[] messageFromBytes(byte[] text) {
        return ascii(MESSAGE_START + encode(text) + REQUEST_END);
    }

    /** The longest UTF-8 prefix of bytes, cut before a character, whose encoding fits in room. */
    static byte[] cutToFit(byte[] bytes, int room) {
        int used = 0;
        int end = 0;
        int i = 0;
        while (i < bytes.length) {
            int charEnd = i + 1;
            while (charEnd < bytes.length && (bytes[charEnd] & 0xC0) == 0x80) charEnd++;
            int cost = 0;
            for (int j = i; j < charEnd; j++) cost += encodedLength(bytes[j]);
            if (used + cost > room) break;
            used += cost;
            end = charEnd;
            i = charEnd;
        }
        if (end == bytes.length) return bytes;
        byte[] cut = new byte[end];
        System.arraycopy(bytes, 0, cut, 0, end);
        return cut;
    }

    static String guardWords(String text) {
        if (text == null) return "";
        String result = text;
        for (String word : GUARDED_WORDS) {
            int at = result.indexOf(word);
            while (at >= 0) {
                int letter = word.charAt(0) == '~' ? at + 1 : at;
                result = result.substring(0, letter) + Character.toUpperCase(result.charAt(letter))
                        + result.substring(letter + 1);
                at = result.indexOf(word, at + 1);
            }
        }
        return result;
    }

    static String guardValue(String value) {
        return guardWords(value.replace('=', '\uFF1D'));
    }

    private static int encodedLength(byte b) {
        int v = b & 0xFF;
        return (v >= '0' && v <= '9') || v == ' ' ? 1 : 3;
    }

    private static int encodedLength(byte[] bytes) {
        int n = 0;
        for (byte b : bytes) n += encodedLength(b);
        return n;
    }

    private static int encodedLength(String ascii) {
        return encodedLength(ascii(ascii));
    }

    private static byte[] utf8(String s) {
        return s.getBytes(UTF8);
    }

    private static byte[] ascii(String s) {
        byte[] out = new byte[s.length()];
        for (int i = 0; i < out.length; i++) out[i] = (byte) s.charAt(i);
        return out;
    }

    private static void writeAscii(ByteArrayOutputStream out, String s) {
        byte[] b = ascii(s);
        out.write(b, 0, b.length);
    }
}
