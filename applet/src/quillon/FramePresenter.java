package quillon;

import java.util.ArrayDeque;

import quillon.video.VideoPlayer;

/**
 * Shows decoded pictures at the time their stamps say, against the sound:
 * while sound plays, a picture waits until the sound being heard has reached
 * its stamp (the video and audio stamps come from one clock on the server).
 * Without sound, or when the two clocks are far apart, pictures are shown as
 * they arrive. The queue is short: a backlog is skipped to its newest picture.
 */
final class FramePresenter implements VideoPlayer.FrameSink, Runnable {
    /** Stamps further apart than this are not paced (a restarted server, a stalled line). */
    static final long MAX_WAIT_MS = 1500;
    private static final int MAX_QUEUED = 12;

    interface Clock {
        /** The stamp of the sound now heard, or -1 when there is none. */
        long playingStamp();
    }

    interface Display {
        void show(int[] argb, int width, int height);
    }

    private static final class Frame {
        final int[] argb;
        final int width;
        final int height;
        final long stamp;

        Frame(int[] argb, int width, int height, long stamp) {
            this.argb = argb;
            this.width = width;
            this.height = height;
            this.stamp = stamp;
        }
    }

    private final Clock clock;
    private final Display display;
    private final Object lock = new Object();
    private final ArrayDeque<Frame> queue = new ArrayDeque<Frame>(); // guarded by lock
    private boolean stopped; // guarded by lock
    private Thread thread;

    FramePresenter(Clock clock, Display display) {
        this.clock = clock;
        this.display = display;
    }

    void start() {
        thread = new Thread(this, "quillon-presenter");
        thread.setDaemon(true);
        thread.start();
    }

    void stop() {
        synchronized (lock) {
            stopped = true;
            lock.notifyAll();
        }
        if (thread != null) {
            try {
                thread.join(2000);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
            }
        }
    }

    @Override
    public void onFrame(int[] argb, int width, int height, long stampMs) {
        synchronized (lock) {
            queue.add(new Frame(argb, width, height, stampMs));
            while (queue.size() > MAX_QUEUED) queue.poll();
            lock.notifyAll();
        }
    }

    @Override
    public void run() {
        for (;;) {
            Frame frame;
            synchronized (lock) {
                while (!stopped && queue.isEmpty()) {
                    try {
                        lock.wait();
                    } catch (InterruptedException e) {
                        return;
                    }
                }
                if (stopped) return;
                frame = queue.peek();
                long now = clock.playingStamp();
                long wait = now < 0 ? 0 : frame.stamp - now;
                if (wait > 0 && wait < MAX_WAIT_MS && queue.size() < MAX_QUEUED) {
                    try {
                        lock.wait(Math.min(wait, 20));
                    } catch (InterruptedException e) {
                        return;
                    }
                    continue;
                }
                queue.poll();
            }
            try {
                display.show(frame.argb, frame.width, frame.height);
            } catch (RuntimeException e) {
                // A display failure must not stop the pictures that follow.
            }
        }
    }
}
