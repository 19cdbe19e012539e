package quillon.audio;

import java.util.ArrayDeque;

import javax.sound.sampled.AudioFormat;
import javax.sound.sampled.AudioSystem;
import javax.sound.sampled.SourceDataLine;

/**
 * Plays decoded sound through javax.sound.sampled behind a small jitter
 * buffer: playback starts (and restarts after running dry) only once
 * START_MS of sound is queued, and the queue is cut back when it grows past
 * MAX_MS, so the delay stays bounded. Without a usable audio line (a headless
 * machine) the sound is counted and dropped.
 *
 * onPcm is called by the stream thread; the line is fed by the player's own
 * thread; playingStamp may be called from any thread.
 */
public final class AudioPlayer implements PcmSink {
    static final int START_MS = 300;
    static final int MAX_MS = 2000;

    private final Object lock = new Object();
    // Guarded by lock.
    private final ArrayDeque<Chunk> queue = new ArrayDeque<Chunk>();
    private long queuedFrames;
    private boolean stopped;
    private boolean lineFailed;
    private SourceDataLine line;
    private int lineRate;
    private int lineChannels;
    private Thread thread;
    private long framesWritten;
    private long lastStamp = -1;
    private long framesDropped;
    private final boolean enabled;

    private static final class Chunk {
        final byte[] bytes;
        final int frames;
        final long stamp;

        Chunk(byte[] bytes, int frames, long stamp) {
            this.bytes = bytes;
            this.frames = frames;
            this.stamp = stamp;
        }
    }

    /** enabled false: never open a line (tests, or a viewer with sound off). */
    public AudioPlayer(boolean enabled) {
        this.enabled = enabled;
    }

    @Override
    public void onPcm(short[] samples, int frames, int channels, int rate, long stampMs) {
        synchronized (lock) {
            if (stopped) return;
            if (!openLine(channels, rate)) {
                framesDropped += frames;
                return;
            }
            byte[] bytes = new byte[frames * channels * 2];
            for (int i = 0; i < frames * channels; i++) {
                bytes[2 * i] = (byte) samples[i];
                bytes[2 * i + 1] = (byte) (samples[i] >> 8);
            }
            queue.add(new Chunk(bytes, frames, stampMs));
            queuedFrames += frames;
            while (queuedFrames > (long) lineRate * MAX_MS / 1000 && queue.size() > 1) {
                Chunk old = queue.poll();
                queuedFrames -= old.frames;
                framesDropped += old.frames;
            }
            lock.notifyAll();
        }
    }

    /** Whether sound is actually being played. */
    public boolean playing() {
        synchronized (lock) {
            return line != null;
        }
    }

    public long framesDropped() {
        synchronized (lock) {
            return framesDropped;
        }
    }

    /**
     * The clock stamp of the sound now being heard, or -1 when none is
     * playing: the stamp of the last chunk handed to the line, moved back by
     * what the line still holds.
     */
    public long playingStamp() {
        synchronized (lock) {
            if (line == null || lastStamp < 0 || !line.isRunning()) return -1;
            long pending = framesWritten - line.getLongFramePosition();
            // A line that has run dry plays nothing: the picture must not wait for it.
            if (pending <= 0 && queue.isEmpty()) return -1;
            return lastStamp - Math.max(0, pending) * 1000 / lineRate;
        }
    }

    public void stop() {
        Thread t;
        synchronized (lock) {
            stopped = true;
            queue.clear();
            lock.notifyAll();
            t = thread;
        }
        if (t != null) {
            try {
                t.join(2000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
        synchronized (lock) {
            if (line != null) {
                line.close();
                line = null;
            }
        }
    }

    /** Called with lock held. */
    private boolean openLine(int channels, int rate) {
        if (line != null) {
            if (rate == lineRate && channels == lineChannels) return true;
            line.close(); // a different stream format: start over
            line = null;
        }
        if (!enabled || lineFailed) return false;
        try {
            AudioFormat format = new AudioFormat(rate, 16, channels, true, false);
            SourceDataLine l = AudioSystem.getSourceDataLine(format);
            l.open(format, rate * channels * 2 / 2); // half a second of line buffer
            line = l;
            lineRate = rate;
            lineChannels = channels;
            framesWritten = 0;
            if (thread == null) {
                thread = new Thread(new Runnable() {
                    @Override
                    public void run() {
                        feed();
                    }
                }, "quillon-audio");
                thread.setDaemon(true);
                thread.start();
            }
            return true;
        } catch (Exception noLine) {
            // No sound device (or no permission): play nothing, silently.
            lineFailed = true;
            return false;
        } catch (LinkageError noSoundSystem) {
            lineFailed = true;
            return false;
        }
    }

    private void feed() {
        boolean primed = false;
        for (;;) {
            Chunk chunk;
            SourceDataLine l;
            synchronized (lock) {
                while (!stopped && (queue.isEmpty() || (!primed && queuedFrames < (long) lineRate * START_MS / 1000))) {
                    if (queue.isEmpty()) primed = false;
                    try {
                        lock.wait(100);
                    } catch (InterruptedException e) {
                        return;
                    }
                }
                if (stopped) return;
                primed = true;
                chunk = queue.poll();
                queuedFrames -= chunk.frames;
                l = line;
                if (l == null) continue;
                if (!l.isRunning()) l.start();
            }
            // Blocks while the line is full, outside the lock.
            l.write(chunk.bytes, 0, chunk.bytes.length);
            synchronized (lock) {
                if (l == line) {
                    framesWritten += chunk.frames;
                    lastStamp = chunk.stamp;
                }
            }
        }
    }
}
