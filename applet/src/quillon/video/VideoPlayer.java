package quillon.video;

/**
 * Turns video packet payloads (4-byte stamp + one compressed frame) into
 * pictures. Starts at the first key frame; a frame that does not decode is
 * dropped and decoding waits for the next key frame, so nothing a stream
 * carries can make it throw. Used by the stream's thread only.
 */
public final class VideoPlayer {
    /** Receives each decoded picture, already converted to ARGB at the output size. */
    public interface FrameSink {
        void onFrame(int[] argb, int width, int height, long stampMs);
    }

    private final Mpeg4Decoder decoder = new Mpeg4Decoder();
    private final FrameSink sink;
    private volatile int outWidth;
    private volatile int outHeight;

    // Written by the stream's thread only; volatile so that a status display
    // (or a test) can read them from another thread.
    private volatile boolean waitingForKey = true;
    private volatile long framesDecoded;
    private volatile long framesDropped;
    private volatile String lastError = "";

    public VideoPlayer(FrameSink sink, int outWidth, int outHeight) {
        this.sink = sink;
        setOutputSize(outWidth, outHeight);
    }

    /** The size pictures are scaled to; may be changed from any thread. */
    public void setOutputSize(int width, int height) {
        outWidth = Math.max(1, width);
        outHeight = Math.max(1, height);
    }

    /** One video packet's payload and key flag. */
    public void addPayload(byte[] payload, boolean key) {
        if (waitingForKey && !key) {
            framesDropped++;
            return;
        }
        if (payload.length <= 4) {
            drop("frame without data");
            return;
        }
        long stamp = (payload[0] & 0xFF) | ((payload[1] & 0xFF) << 8) | ((payload[2] & 0xFF) << 16)
                | ((long) (payload[3] & 0xFF) << 24);
        Picture picture;
        try {
            picture = decoder.decode(payload, 4, payload.length - 4);
        } catch (DecodeException e) {
            drop(e.getMessage());
            return;
        }
        if (picture == null) {
            drop("frame without a picture");
            return;
        }
        waitingForKey = false;
        framesDecoded++;
        int w = outWidth;
        int h = outHeight;
        sink.onFrame(YuvToRgb.convert(picture, w, h), w, h, stamp);
    }

    /** Waits for the next key frame, as after a gap in the stream. */
    public void restart() {
        waitingForKey = true;
        decoder.reset();
    }

    private void drop(String why) {
        framesDropped++;
        lastError = why;
        waitingForKey = true;
        decoder.reset();
    }

    public boolean waitingForKey() {
        return waitingForKey;
    }

    public long framesDecoded() {
        return framesDecoded;
    }

    public long framesDropped() {
        return framesDropped;
    }

    public String lastError() {
        return lastError;
    }

    public DecoderStatistics statistics() {
        return decoder.statistics();
    }
}
