package quillon.net;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CharsetDecoder;
import java.nio.charset.CodingErrorAction;

/** Chat and status texts are bytes: shown as UTF-8 where valid, else as windows-1251. */
public final class ChatText {
    private static final Charset FALLBACK = fallback();

    private ChatText() {}

    /** The text of a chat packet payload, without its final line feed. */
    public static String decode(byte[] payload) {
        int length = payload.length;
        if (length > 0 && payload[length - 1] == '\n') length--;
        CharsetDecoder utf8 = ServerRequests.UTF8.newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT);
        try {
            return utf8.decode(ByteBuffer.wrap(payload, 0, length)).toString();
        } catch (CharacterCodingException notUtf8) {
            return new String(payload, 0, length, FALLBACK);
        }
    }

    private static Charset fallback() {
        try {
            return Charset.forName("windows-1251");
        } catch (RuntimeException unsupported) {
            // A JRE without the extended character sets: show the bytes as Latin-1.
            return Charset.forName("ISO-8859-1");
        }
    }
}
