package quillon.testing;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import quillon.net.Packet;

/** Reads the fixtures written by applet_fixture_writer (folder from QUILLON_FIXTURES). */
public final class Fixtures {
    public static final int WIDTH = 320;
    public static final int HEIGHT = 240;
    public static final int FRAME_BYTES = WIDTH * HEIGHT * 3 / 2;

    private Fixtures() {}

    public static File folder() {
        String dir = System.getenv("QUILLON_FIXTURES");
        if (dir == null) throw new IllegalStateException("QUILLON_FIXTURES is not set (run the tests through ctest)");
        return new File(dir);
    }

    /** The packets of a fixture stream, in order. */
    public static List<Packet> packets(String name) throws IOException {
        byte[] all = Files.readAllBytes(new File(folder(), name + ".packets").toPath());
        List<Packet> out = new ArrayList<Packet>();
        int at = 0;
        while (at + 4 <= all.length) {
            int length = (all[at] & 0xFF) | ((all[at + 1] & 0xFF) << 8);
            boolean key = (all[at + 2] & 1) != 0;
            int kind = all[at + 3] & 0xFF;
            at += 4;
            out.add(new Packet(kind, key, Arrays.copyOfRange(all, at, at + length)));
            at += length;
        }
        if (at != all.length) throw new IOException(name + ": trailing bytes");
        return out;
    }

    /** The raw bytes of a fixture's .packets file. */
    public static byte[] streamBytes(String name) throws IOException {
        return Files.readAllBytes(new File(folder(), name + ".packets").toPath());
    }

    /** I420 frames of name + suffix (".yuv" for libavcodec's pictures, ".src.yuv" for the encoder's input). */
    public static List<byte[]> frames(String name, String suffix) throws IOException {
        return frames(name, suffix, WIDTH, HEIGHT);
    }

    /** The same for pictures of another size. */
    public static List<byte[]> frames(String name, String suffix, int width, int height) throws IOException {
        int frameBytes = width * height * 3 / 2;
        byte[] all = Files.readAllBytes(new File(folder(), name + suffix).toPath());
        List<byte[]> out = new ArrayList<byte[]>();
        for (int at = 0; at + frameBytes <= all.length; at += frameBytes) {
            out.add(Arrays.copyOfRange(all, at, at + frameBytes));
        }
        return out;
    }

    /** PSNR in dB over all three planes of two I420 frames (99 when identical). */
    public static double psnr(byte[] a, byte[] b) {
        if (a.length != b.length) throw new IllegalArgumentException("frame sizes differ");
        double se = 0;
        for (int i = 0; i < a.length; i++) {
            int d = (a[i] & 0xFF) - (b[i] & 0xFF);
            se += d * d;
        }
        if (se == 0) return 99;
        double mse = se / a.length;
        return 10 * Math.log10(255.0 * 255.0 / mse);
    }
}
