package quillon.net;

/** Receives what one stream connection delivers; called on that stream's thread. */
public interface StreamListener {
    /** The reply header has been read; packets follow. */
    void onConnected(StreamClient source);

    /** One packet of any kind, unknown kinds included. */
    void onPacket(StreamClient source, Packet packet);

    /** The stream ended or could not be opened; a reconnect follows unless stopped. */
    void onDisconnected(StreamClient source, Exception cause);
}
