package quillon.video;

/** Counts of what the decoder met, so that tests can tell which coding tools a stream used. */
public final class DecoderStatistics {
    public long intraMacroblocks;
    public long acPredictedMacroblocks;
    public long interMacroblocks;
    public long fourVectorMacroblocks;
    public long skippedMacroblocks;
    /** Block predictions that read samples from outside the reference picture. */
    public long edgePredictions;
    /** Block predictions at a half-sample position. */
    public long halfSamplePredictions;
    public long escapeCodes;
    /** Video packets, or groups of blocks with a header in short header pictures. */
    public long videoPackets;
    public long shortHeaderPictures;
    /** Macroblocks that changed the quantiser (dquant). */
    public long quantiserChanges;
    public int largestFcode;
    public long roundingControlVops;
}
