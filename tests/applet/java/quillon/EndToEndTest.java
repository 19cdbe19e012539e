package quillon;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;
import static org.junit.Assume.assumeTrue;

import java.io.DataInputStream;
import java.io.File;
import java.io.FileInputStream;
import java.io.IOException;
import java.net.ServerSocket;
import java.net.Socket;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import quillon.audio.PcmSink;
import quillon.testing.Waiting;

/**
 * The viewer against the real server: build/halvora --headless with the test
 * pattern camera and the test tone, in a fresh program folder and registry.
 * Skipped (reported as such) when the server, fennick or the codec driver has
 * not been built in the build folder the tests were configured with.
 */
public class EndToEndTest {
    private File work;
    private Process server;
    private int port;
    private File home;
    private File log;

    static int freePort() throws IOException {
        ServerSocket s = new ServerSocket(0);
        try {
            return s.getLocalPort();
        } finally {
            s.close();
        }
    }

    @Before
    public void startServer() throws Exception {
        String buildDir = System.getenv("QUILLON_SERVER_BUILD_DIR");
        assumeTrue("QUILLON_SERVER_BUILD_DIR is not set", buildDir != null);
        File halvora = new File(buildDir, "halvora");
        File fennick = new File(buildDir, "fennick");
        File drivers = new File(buildDir, "drivers");
        assumeTrue("no server at " + halvora, halvora.canExecute());
        assumeTrue("no fennick at " + fennick, fennick.canExecute());
        assumeTrue("no codec driver in " + drivers, new File(drivers, "divxx.so").isFile());

        work = Files.createTempDirectory("quillon-e2e").toFile();
        home = new File(work, "home");
        File config = new File(work, "config");
        assertTrue(home.mkdir() && config.mkdir());
        log = new File(work, "server.log");

        ProcessBuilder registration = new ProcessBuilder(fennick.getPath());
        environment(registration.environment(), config, drivers);
        registration.redirectErrorStream(true).redirectOutput(log);
        assertEquals("fennick exit status", 0, registration.start().waitFor());

        port = freePort();
        ProcessBuilder pb = new ProcessBuilder(halvora.getPath(), "--headless", "--home", home.getPath(), "--port",
                String.valueOf(port), "--test-pattern", "--camera", "0", "--test-tone");
        environment(pb.environment(), config, drivers);
        pb.redirectErrorStream(true).redirectOutput(ProcessBuilder.Redirect.appendTo(log));
        server = pb.start();
        assertTrue("the server listens on port " + port, Waiting.until(new Waiting.Condition() {
            public boolean holds() {
                try {
                    new Socket("127.0.0.1", port).close();
                    return true;
                } catch (IOException notYet) {
                    return !server.isAlive();
                }
            }
        }, 20000) && server.isAlive());
    }

    static void environment(Map<String, String> env, File config, File drivers) {
        env.put("XDG_CONFIG_HOME", config.getPath());
        env.put("HALVORA_DRIVER_PATH", drivers.getPath());
        env.remove("HALVORA_HOME");
    }

    @After
    public void stopServer() throws Exception {
        if (server != null) {
            server.destroy();
            if (!server.waitFor(10, TimeUnit.SECONDS)) server.destroyForcibly();
        }
        if (work != null) {
            if (log.isFile()) System.out.println("server output:\n" + new String(Files.readAllBytes(log.toPath()), "UTF-8"));
            deleteTree(work);
        }
    }

    static void deleteTree(File f) {
        File[] children = f.listFiles();
        if (children != null) for (File c : children) deleteTree(c);
        f.delete();
    }

    static final class Events implements ViewerSession.Listener, PcmSink {
        final List<String> chat = Collections.synchronizedList(new ArrayList<String>());
        final List<Boolean> status = Collections.synchronizedList(new ArrayList<Boolean>());
        volatile int pictures;
        volatile boolean pictureHasDetail;
        long frames;
        double energy;
        long crossings;
        short previous;

        @Override
        public void onPicture(int[] argb, int width, int height) {
            pictures++;
            int first = argb[0];
            for (int v : argb) {
                if (v != first) {
                    pictureHasDetail = true;
                    break;
                }
            }
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
            // the counts say enough
        }

        @Override
        public synchronized void onPcm(short[] samples, int count, int channels, int rate, long stampMs) {
            for (int i = 0; i < count; i++) {
                short s = samples[i * channels];
                if ((s < 0) != (previous < 0)) crossings++;
                previous = s;
                energy += (double) s * s;
            }
            frames += count;
        }
    }

    @Test
    public void watchesListensChatsRegistersAndCalls() throws Exception {
        final Events events = new Events();
        final ViewerSession session = new ViewerSession("127.0.0.1", port, events, 400, 300, false);
        session.setSoundMonitor(events);
        try {
            session.start();
            Thread.sleep(5000);
            assertTrue("pictures in 5 s: " + events.pictures, events.pictures >= 20);
            assertTrue("the picture is the test pattern, not a flat area", events.pictureHasDetail);
            assertTrue("frames refused: " + session.videoPlayer().lastError(),
                    session.videoPlayer().framesDropped() <= 10); // only those before the first key frame
            synchronized (events) {
                assertTrue("sound in 5 s: " + events.frames + " samples", events.frames >= 8000 * 2);
                double frequency = events.crossings / 2.0 / (events.frames / 8000.0);
                assertEquals("the test tone's pitch", 440, frequency, 15);
                assertTrue("the test tone is audible", Math.sqrt(events.energy / events.frames) > 1000);
            }
            assertTrue("status packets on the chat stream", Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return !events.status.isEmpty();
                }
            }, 10000));

            assertTrue(session.sendChat("Hello from the viewer, Привет").get(10, TimeUnit.SECONDS));
            assertTrue("echo of the chat line " + events.chat, Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return events.chat.contains("guest: Hello from the viewer, Привет");
                }
            }, 10000));

            assertTrue(session.register("Ann Lee", "Acme", "ann@example.com", "+1 555", "Video").get(10,
                    TimeUnit.SECONDS));
            String[] contact = contactOf("127.0.0.1");
            assertArrayEquals(new String[] {"Ann Lee", "Acme", "ann@example.com", "+1 555", "Video"},
                    java.util.Arrays.copyOf(contact, 5));
            assertTrue(session.sendChat("registered now").get(10, TimeUnit.SECONDS));
            assertTrue("echo under the registered name " + events.chat, Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return events.chat.contains("Ann Lee: registered now");
                }
            }, 10000));

            assertTrue("call start acknowledged", session.startCall().get(10, TimeUnit.SECONDS));
            assertTrue("call stop acknowledged", session.stopCall().get(10, TimeUnit.SECONDS));
            assertEquals("call requests are not chat lines", 2, events.chat.size());
            assertEquals(0, session.handlerFailures());
        } finally {
            session.stop();
        }
    }

    /** The eight fields of the first contacts.tbl record for address. */
    private String[] contactOf(String address) throws IOException {
        DataInputStream in = new DataInputStream(new FileInputStream(new File(home, "contacts.tbl")));
        try {
            int count = Integer.reverseBytes(in.readInt());
            for (int i = 0; i < count; i++) {
                String[] fields = new String[8];
                for (int f = 0; f < 8; f++) {
                    byte[] b = new byte[Integer.reverseBytes(in.readInt())];
                    in.readFully(b);
                    fields[f] = new String(b, "UTF-8");
                }
                if (fields[5].equals(address)) return fields;
            }
        } finally {
            in.close();
        }
        throw new AssertionError("no contact for " + address + " in contacts.tbl");
    }
}
