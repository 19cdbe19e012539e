package quillon;

import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.ThreadFactory;
import java.util.concurrent.Callable;
import java.util.concurrent.atomic.AtomicLong;

import quillon.audio.AudioPlayer;
import quillon.audio.PcmSink;
import quillon.audio.StampedVorbisDecoder;
import quillon.net.ChatText;
import quillon.net.MessageSender;
import quillon.net.Packet;
import quillon.net.ServerRequests;
import quillon.net.StreamClient;
import quillon.net.StreamListener;
import quillon.video.VideoPlayer;

/**
 * One viewer's connection to the broadcast, without any window: the
 * audio-and-video stream (pictures decoded, paced against the sound, handed to
 * the listener), the chat stream (chat lines and operator status), and the
 * one-shot requests (chat lines, registration, call start and stop), which are
 * sent one after another on a thread of their own.
 */
public final class ViewerSession {
    /** What the session reports; called on the session's threads, never the UI's. */
    public interface Listener {
        void onPicture(int[] argb, int width, int height);

        void onChatLine(String text);

        void onOperatorStatus(boolean online);

        void onStreamState(String stream, boolean connected);
    }

    public static final String ONLINE = "~online";
    public static final String OFFLINE = "~offline";

    private final Listener listener;
    private final MessageSender sender;
    private final StreamClient media;
    private final StreamClient chat;
    private final VideoPlayer video;
    private final AudioPlayer audio;
    private final StampedVorbisDecoder vorbis;
    private final FramePresenter presenter;
    private final ExecutorService requests;
    private volatile PcmSink soundMonitor;

    // Counts for the status line and tests; written by the stream threads.
    private final AtomicLong videoPackets = new AtomicLong();
    private final AtomicLong audioPackets = new AtomicLong();
    private final AtomicLong chatPackets = new AtomicLong();
    private final AtomicLong statusPackets = new AtomicLong();
    private final AtomicLong skippedPackets = new AtomicLong();
    private final AtomicLong picturesShown = new AtomicLong();
    private final AtomicLong handlerFailures = new AtomicLong();

    public ViewerSession(String host, int port, final Listener listener, int pictureWidth, int pictureHeight,
                         boolean sound) {
        this.listener = listener;
        this.sender = new MessageSender(host, port);
        this.audio = new AudioPlayer(sound);
        this.vorbis = new StampedVorbisDecoder(new PcmSink() {
            @Override
            public void onPcm(short[] samples, int frames, int channels, int rate, long stampMs) {
                audio.onPcm(samples, frames, channels, rate, stampMs);
                PcmSink monitor = soundMonitor;
                if (monitor != null) monitor.onPcm(samples, frames, channels, rate, stampMs);
            }
        });
        this.presenter = new FramePresenter(new FramePresenter.Clock() {
            @Override
            public long playingStamp() {
                return audio.playingStamp();
            }
        }, new FramePresenter.Display() {
            @Override
            public void show(int[] argb, int width, int height) {
                picturesShown.incrementAndGet();
                listener.onPicture(argb, width, height);
            }
        });
        this.video = new VideoPlayer(presenter, pictureWidth, pictureHeight);
        StreamListener streams = new Streams();
        this.media = new StreamClient(host, port, ServerRequests.audioVideoStream(), streams, "audiovideo");
        this.chat = new StreamClient(host, port, ServerRequests.chatStream(), streams, "chat");
        this.requests = Executors.newSingleThreadExecutor(new ThreadFactory() {
            @Override
            public Thread newThread(Runnable r) {
                Thread t = new Thread(r, "quillon-requests");
                t.setDaemon(true);
                return t;
            }
        });
    }

    public void start() {
        presenter.start();
        media.start();
        chat.start();
    }

    public void stop() {
        media.stop();
        chat.stop();
        presenter.stop();
        audio.stop();
        requests.shutdownNow();
    }

    /** Also hands every decoded sound block to monitor (on the media stream's thread). */
    public void setSoundMonitor(PcmSink monitor) {
        soundMonitor = monitor;
    }

    public void setPictureSize(int width, int height) {
        video.setOutputSize(width, height);
    }

    /** Sends a chat line; the future tells whether the server acknowledged it. */
    public Future<Boolean> sendChat(String text) {
        return send(ServerRequests.chatMessage(text));
    }

    public Future<Boolean> register(String name, String company, String email, String phone, String interest) {
        return send(ServerRequests.registration(name, company, email, phone, interest));
    }

    public Future<Boolean> startCall() {
        return send(ServerRequests.callStart());
    }

    public Future<Boolean> stopCall() {
        return send(ServerRequests.callStop());
    }

    private Future<Boolean> send(final byte[] request) {
        return requests.submit(new Callable<Boolean>() {
            @Override
            public Boolean call() throws Exception {
                return sender.send(request);
            }
        });
    }

    public long videoPackets() {
        return videoPackets.get();
    }

    public long audioPackets() {
        return audioPackets.get();
    }

    public long chatPackets() {
        return chatPackets.get();
    }

    public long statusPackets() {
        return statusPackets.get();
    }

    public long skippedPackets() {
        return skippedPackets.get();
    }

    public long picturesShown() {
        return picturesShown.get();
    }

    public long handlerFailures() {
        return handlerFailures.get();
    }

    /** Read these only after stop(), or accept a racy snapshot: they belong to the media thread. */
    public VideoPlayer videoPlayer() {
        return video;
    }

    public StampedVorbisDecoder vorbisDecoder() {
        return vorbis;
    }

    private final class Streams implements StreamListener {
        @Override
        public void onConnected(StreamClient source) {
            listener.onStreamState(source.name(), true);
        }

        @Override
        public void onPacket(StreamClient source, Packet packet) {
            try {
                if (source == media) mediaPacket(packet);
                else chatPacket(packet);
            } catch (RuntimeException e) {
                // One bad packet (or a listener failure) must not end the stream.
                handlerFailures.incrementAndGet();
            }
        }

        @Override
        public void onDisconnected(StreamClient source, Exception cause) {
            if (source == media) {
                // The next connection starts anywhere in the stream.
                video.restart();
                vorbis.reset();
            }
            listener.onStreamState(source.name(), false);
        }

        private void mediaPacket(Packet packet) {
            switch (packet.kind) {
                case Packet.KIND_VIDEO:
                    videoPackets.incrementAndGet();
                    video.addPayload(packet.payload, packet.key);
                    break;
                case Packet.KIND_AUDIO:
                    audioPackets.incrementAndGet();
                    vorbis.addRecord(packet.payload);
                    break;
                default:
                    skippedPackets.incrementAndGet();
                    break;
            }
        }

        private void chatPacket(Packet packet) {
            switch (packet.kind) {
                case Packet.KIND_CHAT:
                    chatPackets.incrementAndGet();
                    listener.onChatLine(ChatText.decode(packet.payload));
                    break;
                case Packet.KIND_STATUS:
                    statusPackets.incrementAndGet();
                    String status = ChatText.decode(packet.payload);
                    if (status.equals(ONLINE)) listener.onOperatorStatus(true);
                    else if (status.equals(OFFLINE)) listener.onOperatorStatus(false);
                    break;
                default:
                    skippedPackets.incrementAndGet();
                    break;
            }
        }
    }
}
