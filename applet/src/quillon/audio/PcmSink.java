package quillon.audio;

/** Receives decoded sound. */
public interface PcmSink {
    /**
     * frames sample frames of interleaved signed 16-bit samples; stampMs is
     * the clock stamp of the packet they were decoded from. The array is
     * reused after the call returns.
     */
    void onPcm(short[] samples, int frames, int channels, int rate, long stampMs);
}
