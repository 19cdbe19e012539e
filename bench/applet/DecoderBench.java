import java.io.File;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
import java.nio.file.Files;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import quillon.video.DecodeException;
import quillon.video.Mpeg4Decoder;
import quillon.video.Picture;
import quillon.video.YuvToRgb;

/**
 * Times the viewer's decoder on the fixture streams: every frame decoded
 * again and again after a warm-up that lets the JIT compile the hot paths,
 * then the median and 99th percentile of the time per frame, and the same
 * for the conversion to the 400 x 300 ARGB picture area. Wall time suffers
 * when other processes share the cores, so the decoding thread's CPU time is
 * printed beside it: on a busy machine that is the figure to read.
 *
 * Usage: DecoderBench FIXTURE_FOLDER
 */
public final class DecoderBench {
    private static final String[] STREAMS = {"moving_20k", "moving_100k", "moving_800k", "motion_400k"};
    private static final int WARM_UP_ROUNDS = 30;
    private static final int TIMED_ROUNDS = 40;
    private static final ThreadMXBean THREADS = ManagementFactory.getThreadMXBean();

    public static void main(String[] args) throws Exception {
        File folder = new File(args.length > 0 ? args[0] : ".");
        System.out.println("MPEG-4 decode time per 320x240 frame (JVM " + System.getProperty("java.version")
                + ", after " + WARM_UP_ROUNDS + " warm-up passes)");
        System.out.printf("%-14s %7s %10s %9s %9s %12s %11s %12s%n", "stream", "frames", "median ms", "p99 ms",
                "max ms", "cpu p50 ms", "cpu p99 ms", "convert p50");
        for (String name : STREAMS) {
            List<byte[]> frames = read(new File(folder, name + ".packets"));
            Mpeg4Decoder decoder = new Mpeg4Decoder();
            for (int r = 0; r < WARM_UP_ROUNDS; r++) decodeAll(decoder, frames, null, null, null);
            long[] decode = new long[frames.size() * TIMED_ROUNDS];
            long[] cpu = new long[frames.size() * TIMED_ROUNDS];
            long[] convert = new long[frames.size() * TIMED_ROUNDS];
            int at = 0;
            for (int r = 0; r < TIMED_ROUNDS; r++) {
                long[] d = new long[frames.size()];
                long[] u = new long[frames.size()];
                long[] c = new long[frames.size()];
                decodeAll(decoder, frames, d, u, c);
                System.arraycopy(d, 0, decode, at, d.length);
                System.arraycopy(u, 0, cpu, at, u.length);
                System.arraycopy(c, 0, convert, at, c.length);
                at += d.length;
            }
            Arrays.sort(decode);
            Arrays.sort(cpu);
            Arrays.sort(convert);
            System.out.printf("%-14s %7d %10.3f %9.3f %9.3f %12.3f %11.3f %12.3f%n", name, frames.size(),
                    ms(percentile(decode, 50)), ms(percentile(decode, 99)), ms(decode[decode.length - 1]),
                    ms(percentile(cpu, 50)), ms(percentile(cpu, 99)), ms(percentile(convert, 50)));
        }
    }

    private static void decodeAll(Mpeg4Decoder decoder, List<byte[]> frames, long[] decodeNs, long[] cpuNs,
                                  long[] convertNs) throws DecodeException {
        int[] argb = new int[400 * 300];
        for (int i = 0; i < frames.size(); i++) {
            byte[] f = frames.get(i);
            long c0 = THREADS.getCurrentThreadCpuTime();
            long t0 = System.nanoTime();
            Picture p = decoder.decode(f, 4, f.length - 4);
            long t1 = System.nanoTime();
            long c1 = THREADS.getCurrentThreadCpuTime();
            YuvToRgb.convert(p, 400, 300, argb);
            long t2 = System.nanoTime();
            if (decodeNs != null) {
                decodeNs[i] = t1 - t0;
                cpuNs[i] = c1 - c0;
                convertNs[i] = t2 - t1;
            }
        }
    }

    private static List<byte[]> read(File packets) throws Exception {
        byte[] all = Files.readAllBytes(packets.toPath());
        List<byte[]> out = new ArrayList<byte[]>();
        int at = 0;
        while (at + 4 <= all.length) {
            int length = (all[at] & 0xFF) | ((all[at + 1] & 0xFF) << 8);
            at += 4;
            out.add(Arrays.copyOfRange(all, at, at + length));
            at += length;
        }
        return out;
    }

    private static long percentile(long[] sorted, int p) {
        int index = (int) Math.ceil(p / 100.0 * sorted.length) - 1;
        return sorted[Math.max(0, Math.min(sorted.length - 1, index))];
    }

    private static double ms(long ns) {
        return ns / 1e6;
    }
}
