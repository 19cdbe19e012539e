package quillon.audio;

import com.jcraft.jogg.Packet;
import com.jcraft.jorbis.Block;
import com.jcraft.jorbis.Comment;
import com.jcraft.jorbis.DspState;
import com.jcraft.jorbis.Info;

import java.util.Arrays;
import java.util.List;

/**
 * Decodes the broadcast's sound: records of whole Ogg pages whose packets are
 * Vorbis packets each preceded by a 4-byte little-endian clock stamp.
 *
 * Decoding starts at the first complete set of the three header packets. The
 * server repeats the header set every few seconds in the same stream: a
 * repeated set identical to the one in use is passed over, so the sound goes
 * on without a break; a different set starts the decoder afresh. The
 * identification header is handed to JOrbis marked as the beginning of the
 * stream, which it requires, although for a viewer that joined late it is not
 * the stream's first page.
 */
public final class StampedVorbisDecoder {
    private static final int STAMP_BYTES = 4;

    private final PcmSink sink;
    private final OggPacketAssembler assembler = new OggPacketAssembler();

    // The header set being collected, and the one the decoder runs with.
    private final byte[][] pending = new byte[3][];
    private int pendingCount;
    private byte[][] active;

    private Info info;
    private DspState dsp;
    private Block block;
    private boolean decoding;
    private long packetNumber;

    private final float[][][] pcmOut = new float[1][][];
    private int[] pcmIndex = new int[0];
    private short[] samples = new short[4096];

    // Counts, for the viewer's status and for tests.
    private long framesDecoded;
    private int headerSetsStarted;
    private long packetsRefused;

    public StampedVorbisDecoder(PcmSink sink) {
        this.sink = sink;
    }

    /** One audio record: zero or more whole Ogg pages. Damaged bytes are passed over. */
    public void addRecord(byte[] payload) {
        OggPageParser parser = new OggPageParser(payload, 0, payload.length);
        OggPage page;
        while ((page = parser.next()) != null) {
            List<byte[]> packets = assembler.add(page);
            for (byte[] packet : packets) addPacket(packet);
        }
    }

    /** Forgets everything: decoding starts again at the next header set. */
    public void reset() {
        assembler.reset();
        pendingCount = 0;
        active = null;
        decoding = false;
    }

    public boolean decoding() {
        return decoding;
    }

    public long framesDecoded() {
        return framesDecoded;
    }

    /** How many times decoding started from a header set (the first time included). */
    public int headerSetsStarted() {
        return headerSetsStarted;
    }

    public long packetsRefused() {
        return packetsRefused;
    }

    public int rate() {
        return decoding ? info.rate : 0;
    }

    private void addPacket(byte[] stamped) {
        if (stamped.length <= STAMP_BYTES) return;
        long stamp = OggPageParser.le32(stamped, 0) & 0xFFFFFFFFL;
        int type = stamped[STAMP_BYTES] & 0xFF;
        if ((type & 1) != 0) {
            if (isVorbisHeader(stamped)) headerPacket(type, stamped);
            return;
        }
        if (decoding) audioPacket(stamped, stamp);
    }

    private static boolean isVorbisHeader(byte[] p) {
        if (p.length < STAMP_BYTES + 7) return false;
        String tag = "vorbis";
        for (int i = 0; i < 6; i++) {
            if (p[STAMP_BYTES + 1 + i] != tag.charAt(i)) return false;
        }
        return true;
    }

    private void headerPacket(int type, byte[] stamped) {
        byte[] body = Arrays.copyOfRange(stamped, STAMP_BYTES, stamped.length);
        if (type == 1) {
            pending[0] = body;
            pendingCount = 1;
        } else if (type == 3 && pendingCount == 1) {
            pending[1] = body;
            pendingCount = 2;
        } else if (type == 5 && pendingCount == 2) {
            pending[2] = body;
            pendingCount = 0;
            headerSetComplete();
        } else {
            pendingCount = 0; // a set out of order: wait for the next identification header
        }
    }

    private void headerSetComplete() {
        if (decoding && sameSet(active, pending)) return;
        decoding = false;
        Info newInfo = new Info();
        Comment comment = new Comment();
        newInfo.init();
        comment.init();
        try {
            for (int i = 0; i < 3; i++) {
                Packet p = packet(pending[i], 0, pending[i].length, i);
                p.b_o_s = i == 0 ? 1 : 0;
                if (newInfo.synthesis_headerin(comment, p) < 0) {
                    packetsRefused++;
                    return;
                }
            }
            DspState newDsp = new DspState();
            if (newDsp.synthesis_init(newInfo) != 0) {
                packetsRefused++;
                return;
            }
            info = newInfo;
            dsp = newDsp;
            block = new Block(dsp);
            active = new byte[][] {pending[0], pending[1], pending[2]};
            packetNumber = 3;
            decoding = true;
            headerSetsStarted++;
        } catch (RuntimeException damaged) {
            // JOrbis indexes freely into what it is given; a damaged header
            // only means waiting for the next set.
            packetsRefused++;
        }
    }

    private static boolean sameSet(byte[][] a, byte[][] b) {
        if (a == null) return false;
        for (int i = 0; i < 3; i++) {
            if (!Arrays.equals(a[i], b[i])) return false;
        }
        return true;
    }

    private void audioPacket(byte[] stamped, long stamp) {
        try {
            Packet p = packet(stamped, STAMP_BYTES, stamped.length - STAMP_BYTES, packetNumber++);
            if (block.synthesis(p) != 0) {
                packetsRefused++;
                return;
            }
            dsp.synthesis_blockin(block);
            int channels = info.channels;
            if (pcmIndex.length != channels) pcmIndex = new int[channels];
            int frames;
            while ((frames = dsp.synthesis_pcmout(pcmOut, pcmIndex)) > 0) {
                float[][] pcm = pcmOut[0];
                if (samples.length < frames * channels) samples = new short[frames * channels];
                for (int c = 0; c < channels; c++) {
                    float[] ch = pcm[c];
                    int from = pcmIndex[c];
                    for (int i = 0; i < frames; i++) {
                        int v = (int) (ch[from + i] * 32767f);
                        samples[i * channels + c] = (short) (v > 32767 ? 32767 : v < -32768 ? -32768 : v);
                    }
                }
                dsp.synthesis_read(frames);
                framesDecoded += frames;
                sink.onPcm(samples, frames, channels, info.rate, stamp);
            }
        } catch (RuntimeException damaged) {
            packetsRefused++;
        }
    }

    private static Packet packet(byte[] data, int offset, int length, long number) {
        Packet p = new Packet();
        p.packet_base = data;
        p.packet = offset;
        p.bytes = length;
        p.b_o_s = 0;
        p.e_o_s = 0;
        p.granulepos = -1;
        p.packetno = number;
        return p;
    }
}
