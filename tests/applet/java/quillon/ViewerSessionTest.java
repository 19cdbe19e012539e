package quillon;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.concurrent.TimeUnit;

import org.junit.Test;

import quillon.net.Packet;
import quillon.testing.FakeServer;
import quillon.testing.Fixtures;
import quillon.testing.ServerSide;
import quillon.testing.Waiting;

/** The whole viewer without a window, against a fake server. */
public class ViewerSessionTest {
    static final class Events implements ViewerSession.Listener {
        final List<String> chat = Collections.synchronizedList(new ArrayList<String>());
        final List<Boolean> status = Collections.synchronizedList(new ArrayList<Boolean>());
        final List<String> streams = Collections.synchronizedList(new ArrayList<String>());
        volatile int pictures;
        volatile int lastWidth;

        @Override
        public void onPicture(int[] argb, int width, int height) {
            pictures++;
            lastWidth = width;
        }

        @Override
        public void onChatLine(String text) {
            chat.add(text);
        }

        @Override
        public void onOperatorStatus(boolean online) {
            status.add(online);
        }

        @Override
        public void onStreamState(String stream, boolean connected) {
            streams.add(stream + (connected ? " up" : " down"));
        }
    }

    /** Video and audio records interleaved as the server sends them, with packets of unknown kinds among them. */
    static List<Packet> mediaScript() throws Exception {
        List<Packet> video = Fixtures.packets("moving_100k");
        List<Packet> audio = Fixtures.packets("tone");
        List<Packet> script = new ArrayList<Packet>();
        for (int i = 0; i < Math.max(video.size(), audio.size()); i++) {
            if (i < video.size()) script.add(video.get(i));
            if (i < audio.size()) script.add(audio.get(i));
            if (i % 10 == 5) script.add(new Packet(7, false, new byte[] {9, 9, 9}));
        }
        script.add(new Packet(Packet.KIND_STATUS, false, "~online".getBytes("ISO-8859-1")));
        return script;
    }

    @Test
    public void receivesDecodesChatsAndSendsRequests() throws Exception {
        final FakeServer server = new FakeServer(mediaScript(), false);
        final Events events = new Events();
        final ViewerSession session = new ViewerSession("127.0.0.1", server.port(), events, 400, 300, false);
        try {
            session.start();
            assertTrue("every frame decoded", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return session.videoPlayer().framesDecoded() == 40;
                }
            }, 20000));
            // The presenter may skip a backlog on a busy machine, but never the newest picture.
            assertTrue("pictures shown", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return session.picturesShown() > 0;
                }
            }, 10000));
            assertEquals(0, session.videoPlayer().framesDropped());
            assertEquals(400, events.lastWidth);
            assertTrue("sound decoded", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return session.vorbisDecoder().framesDecoded() > 80 * 1382;
                }
            }, 20000));
            int unknown = 1; // the chat stream's kind 42
            for (Packet p : mediaScript()) if (p.kind != Packet.KIND_VIDEO && p.kind != Packet.KIND_AUDIO) unknown++;
            final int expectedSkipped = unknown;
            assertTrue("packets of other kinds skipped", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return session.skippedPackets() == expectedSkipped;
                }
            }, 10000));
            assertTrue(Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return events.status.contains(Boolean.TRUE);
                }
            }, 10000));

            assertTrue(session.sendChat("Hello, operator! Видео?").get(10, TimeUnit.SECONDS));
            assertTrue("the echo comes back on the chat stream", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return events.chat.contains("guest: Hello, operator! Видео?");
                }
            }, 10000));

            assertTrue(session.register("Ann", "Acme", "ann@example.com", "123", "video").get(10, TimeUnit.SECONDS));
            assertTrue(session.startCall().get(10, TimeUnit.SECONDS));
            assertTrue(session.stopCall().get(10, TimeUnit.SECONDS));
            ServerSide registration = server.messages.get(1);
            assertEquals(ServerSide.REGISTRATION, registration.command);
            assertArrayEquals(new String[] {"Ann", "Acme", "ann@example.com", "123", "video"},
                    ServerSide.registrationValues(new String(registration.text, "UTF-8")));
            assertEquals(ServerSide.CALL, server.messages.get(2).command);
            assertEquals("~al_start", new String(server.messages.get(2).text, "UTF-8"));
            assertEquals("~al_stop", new String(server.messages.get(3).text, "UTF-8"));
            assertEquals(0, session.handlerFailures());
        } finally {
            session.stop();
            server.close();
        }
    }

    @Test
    public void reconnectsWhenTheStreamEndsAndStartsAgainAtAKeyFrame() throws Exception {
        // Each connection delivers the stream from frame 5 (not a key frame) and then closes.
        List<Packet> script = new ArrayList<Packet>(Fixtures.packets("moving_100k").subList(5, 40));
        final FakeServer server = new FakeServer(script, true);
        final Events events = new Events();
        final ViewerSession session = new ViewerSession("127.0.0.1", server.port(), events, 320, 240, false);
        try {
            session.start();
            assertTrue("reconnected", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return server.mediaConnections.get() >= 3;
                }
            }, 20000));
            session.stop();
            long connections = server.mediaConnections.get();
            long decoded = session.videoPlayer().framesDecoded();
            long dropped = session.videoPlayer().framesDropped();
            // Frames 5..9 of every connection wait for the key frame at 10; 30 frames decode per connection.
            assertTrue("pictures " + decoded + " after " + connections + " connections",
                    decoded >= 30 * (connections - 1) && decoded <= 30 * connections);
            assertTrue("frames waiting for a key frame: " + dropped,
                    dropped >= 5 * (connections - 1) && dropped <= 5 * connections);
            assertTrue(session.picturesShown() > 0);
            assertTrue(events.streams.contains("audiovideo down"));
        } finally {
            session.stop();
            server.close();
        }
    }

    @Test
    public void noServerMeansRetryingQuietly() throws Exception {
        java.net.ServerSocket taken = new java.net.ServerSocket(0);
        int port = taken.getLocalPort();
        taken.close(); // nothing listens here now
        final Events events = new Events();
        ViewerSession session = new ViewerSession("127.0.0.1", port, events, 320, 240, false);
        session.start();
        assertTrue(Waiting.until(new Waiting.Condition() {
            public boolean holds() {
                return events.streams.size() >= 4;
            }
        }, 10000));
        try {
            session.sendChat("anyone?").get(10, TimeUnit.SECONDS);
            org.junit.Assert.fail("a message nobody received must not count as sent");
        } catch (java.util.concurrent.ExecutionException expected) {
            assertTrue(expected.getCause() instanceof java.io.IOException);
        }
        session.stop();
        assertEquals(0, session.picturesShown());
        for (String s : events.streams) assertTrue(s.endsWith("down"));
    }
}
