package quillon.video;

/** A frame the decoder cannot use: damaged, cut short, or of a kind it does not decode. */
public final class DecodeException extends Exception {
    private static final long serialVersionUID = 1L;

    public DecodeException(String message) {
        super(message);
    }
}
