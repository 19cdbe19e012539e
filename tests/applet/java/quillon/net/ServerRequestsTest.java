package quillon.net;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.nio.charset.Charset;

import org.junit.Test;

import quillon.testing.ServerSide;

/** The viewer's requests, read back the way the server reads them. */
public class ServerRequestsTest {
    static final Charset UTF8 = Charset.forName("UTF-8");

    static String ascii(byte[] b) {
        return new String(b, Charset.forName("ISO-8859-1"));
    }

    @Test
    public void streamRequestsAreClassifiedAsTheirStreams() {
        assertEquals("GET /audiovideo HTTP/1.0\r\n\r\n", ascii(ServerRequests.audioVideoStream()));
        assertEquals("GET /chat HTTP/1.0\r\n\r\n", ascii(ServerRequests.chatStream()));
        assertEquals(ServerSide.AUDIO_VIDEO, ServerSide.read(ServerRequests.audioVideoStream()).command);
        assertEquals(ServerSide.CHAT, ServerSide.read(ServerRequests.chatStream()).command);
    }

    @Test
    public void chatLinesReachTheServerUnchanged() {
        String[] lines = {
            "hello",
            "Hello World",                      // plain letters would arrive lower-cased
            "my video is frozen",               // "video" would make it a stream request
            "let us chat about audio",
            "download client.jar please",
            "AudioVideo VIDEO Chat",
            "GET / HTTP/1.1 HTTP",              // "HTTP" would end the target early
            "100% + 50%% = a+b & c=d?",
            "%00 %zz %4",
            "Привет, как дела? ёЁ",             // Cyrillic, two bytes each in UTF-8
            "emoji \uD83D\uDE00 and tabs\tand\nnewline",
            "trailing space ",
            "",
        };
        for (String line : lines) {
            byte[] request = ServerRequests.chatMessage(line);
            ServerSide read = ServerSide.read(request);
            assertEquals("command for \"" + line + "\"", ServerSide.MESSAGE, read.command);
            assertEquals("text of \"" + line + "\"", line, new String(read.text, UTF8));
            assertTrue(request.length <= ServerRequests.MAX_REQUEST_BYTES);
        }
    }

    @Test
    public void chatLinesNeverLookLikeCallsOrRegistrations() {
        String[][] cases = {
            {"~al_start", "~Al_start"},
            {"please ~al_stop now", "please ~Al_stop now"},
            {"registration is closed", "Registration is closed"},
            {"registration~al_startregistration", "Registration~Al_startRegistration"},
        };
        for (String[] c : cases) {
            ServerSide read = ServerSide.read(ServerRequests.chatMessage(c[0]));
            assertEquals("command for \"" + c[0] + "\"", ServerSide.MESSAGE, read.command);
            assertEquals(c[1], new String(read.text, UTF8));
        }
    }

    @Test
    public void longLinesAreCutToOneRequestAtACharacterBoundary() {
        StringBuilder longLine = new StringBuilder();
        for (int i = 0; i < 400; i++) longLine.append(i % 2 == 0 ? 'ж' : 'q');
        byte[] request = ServerRequests.chatMessage(longLine.toString());
        assertTrue("request of " + request.length + " bytes", request.length <= ServerRequests.MAX_REQUEST_BYTES);
        assertTrue(ascii(request).endsWith(" HTTP/1.0\r\n\r\n"));
        ServerSide read = ServerSide.read(request);
        String text = new String(read.text, UTF8);
        assertFalse("no broken character", text.contains("\uFFFD"));
        assertTrue(text.length() > 100);
        assertTrue(longLine.toString().startsWith(text));
    }

    @Test
    public void callRequests() {
        ServerSide start = ServerSide.read(ServerRequests.callStart());
        ServerSide stop = ServerSide.read(ServerRequests.callStop());
        assertEquals(ServerSide.CALL, start.command);
        assertEquals(ServerSide.CALL, stop.command);
        assertEquals("~al_start", ascii(start.text));
        assertEquals("~al_stop", ascii(stop.text));
    }

    @Test
    public void registrationGivesTheFiveValues() {
        String[][] cases = {
            {"Ann Lee", "Acme Ltd", "ann@example.com", "+7 (495) 123-45-67", "Music"},
            {"ann", "", "x", "", "music"},
            // values holding the keys themselves, separators and guarded words
            {"a=b name=", "company=X & co", "email=e&phone=1", "phone=", "interest=registration ~al_start"},
            {"Иван", "ООО «Ромашка»", "иван@пример.рф", "8 800", "Видео"},
        };
        for (String[] v : cases) {
            byte[] request = ServerRequests.registration(v[0], v[1], v[2], v[3], v[4]);
            ServerSide read = ServerSide.read(request);
            assertEquals(ServerSide.REGISTRATION, read.command);
            String[] got = ServerSide.registrationValues(new String(read.text, UTF8));
            for (int i = 0; i < 5; i++) {
                String expected = ServerRequests.guardValue(v[i]);
                assertEquals("value " + i + " of " + java.util.Arrays.toString(v), expected, got[i]);
                assertFalse(got[i].contains("="));
            }
        }
    }

    @Test
    public void registrationThatIsTooLongStillFitsAndParses() {
        StringBuilder big = new StringBuilder();
        for (int i = 0; i < 500; i++) big.append('я');
        byte[] request = ServerRequests.registration(big.toString(), "c", big.toString(), "p", "i");
        assertTrue(request.length <= ServerRequests.MAX_REQUEST_BYTES);
        ServerSide read = ServerSide.read(request);
        assertEquals(ServerSide.REGISTRATION, read.command);
        String[] got = ServerSide.registrationValues(new String(read.text, UTF8));
        assertEquals("c", got[1]);
        assertEquals("p", got[3]);
        assertEquals("i", got[4]);
        assertTrue(got[0].length() > 10 && big.toString().startsWith(got[0]));
    }

    @Test
    public void encodingKeepsOnlyDigitsPlain() {
        assertEquals("%41%62+09%7E%25%2B", ServerRequests.encode("Ab 09~%+".getBytes(UTF8)));
        assertArrayEquals(new byte[0], ServerRequests.cutToFit("abc".getBytes(UTF8), 2));
    }
}
