package quillon.video;

import java.util.Arrays;

/**
 * Decodes MPEG-4 video of the Simple Profile, one compressed frame at a time:
 * the stream headers (visual object sequence, visual object, video object
 * layer, group of VOPs) and I- and P-VOPs with intra DC/AC prediction, H.263
 * quantisation, one or four motion vectors per macroblock, half-sample motion
 * compensation with rounding control, vectors that point past the picture
 * edges, skipped macroblocks and, when present, resync markers.
 *
 * Pictures with the short header (the H.263 baseline form of the Simple
 * Profile) are decoded too.
 *
 * Not decoded (the frame is refused with a DecodeException): data
 * partitioning and reversible codes, B- and S-VOPs, MPEG quantisation
 * matrices, interlacing, quarter-sample motion, shapes, sprites, scalability
 * and the other tools beyond the Simple Profile, and H.263's optional modes.
 *
 * Not thread-safe: one decoder per stream, used by one thread.
 */
public final class Mpeg4Decoder {
    /** Larger pictures are refused rather than allocated. */
    public static final int MAX_WIDTH = 1920;
    public static final int MAX_HEIGHT = 1088;

    private static final int I_VOP = 0;
    private static final int P_VOP = 1;
    /** The 22 bits that start a picture with the short header. */
    private static final int SHORT_HEADER_MARKER = 0x20;
    private static final int GOB_MARKER_BITS = 17;
    /** Picture sizes of the short header's source_format codes 1..5. */
    private static final int[][] SHORT_HEADER_SIZES = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
    private static final int[] CHROMA_ROUND_16 = {0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2};
    /** Offset of the third vector candidate (above right) from each luminance block. */
    private static final int[] CANDIDATE_C_OFFSET = {2, 1, 1, -1};

    private final BitReader in = new BitReader();
    private final Idct idct = new Idct();
    private final int[] block = new int[64];
    private final int[] spatial = new int[64];
    private final DecoderStatistics statistics = new DecoderStatistics();

    // Video object layer, from the latest layer header.
    private boolean haveLayer;
    private int width;
    private int height;
    private int mbWidth;
    private int mbHeight;
    private int timeIncrementBits;
    private boolean resyncMarkerDisabled;

    // Pictures: the one being decoded and the reference for the next P-VOP.
    private Picture current;
    private Picture reference;
    private boolean haveReference;

    // The VOP being decoded.
    private int vopType;
    private int rounding;
    private int intraDcThreshold;
    private int fcode;
    private int quant;
    private int slice;
    /** The picture being decoded has the short header: no prediction of intra coefficients, 8-bit DC. */
    private boolean shortHeader;

    // Per macroblock of the VOP being decoded.
    private int[] mbSlice; // video packet of the macroblock; -1 until it is decoded
    private boolean[] mbIntra;
    private int[] mbQuant;
    // Per 8x8 luminance block: motion vector in half samples (0 for intra and skipped).
    private int[] mvX;
    private int[] mvY;
    // Intra prediction per block position, for luminance (0), Cb (1) and Cr (2):
    // the dequantised DC and the quantised first row and column (7 values each).
    private final int[][] predDc = new int[3][];
    private final int[][] predRow = new int[3][];
    private final int[][] predCol = new int[3][];

    /**
     * Decodes one compressed frame (stream headers, then one VOP). Returns the
     * decoded picture, which stays valid until the next call, or null when the
     * data held no VOP or a VOP that was not coded before any picture exists.
     * A damaged or unsupported frame throws; decoding continues correctly from
     * the next frame that starts with an I-VOP.
     */
    public Picture decode(byte[] data, int offset, int length) throws DecodeException {
        try {
            return decodeFrame(data, offset, length);
        } catch (DecodeException e) {
            haveReference = false;
            throw e;
        } catch (RuntimeException e) {
            // Damaged data can drive a computed index anywhere; none of that may
            // leave the decoder as anything but a refused frame.
            haveReference = false;
            throw new DecodeException("damaged frame (" + e.getClass().getSimpleName() + ")");
        }
    }

    /** Forgets the reference picture: the next frame must start with an I-VOP. */
    public void reset() {
        haveReference = false;
    }

    /** Running counts since the decoder was made. */
    public DecoderStatistics statistics() {
        return statistics;
    }

    public boolean hasReference() {
        return haveReference;
    }

    private Picture decodeFrame(byte[] data, int offset, int length) throws DecodeException {
        if (offset < 0 || length < 0 || offset + length > data.length) throw new DecodeException("bad frame bounds");
        in.reset(data, offset, length);
        // A frame refused halfway leaves coefficients behind; none may leak into this one.
        Arrays.fill(block, 0);
        shortHeader = false;
        if (length >= 3 && in.peek(22) == SHORT_HEADER_MARKER) return decodeShortHeaderPicture();
        for (;;) {
            int code = in.nextStartCode();
            if (code < 0) return null;
            if (code >= 0x20 && code <= 0x2F) {
                parseLayer();
            } else if (code == 0xB6) {
                return decodeVop();
            }
            // Visual object sequence and visual object headers, groups of VOPs
            // and user data carry nothing this decoder needs.
        }
    }

    // ---------------------------------------------------------------- headers

    private void parseLayer() throws DecodeException {
        haveLayer = false;
        in.skip(1); // random_accessible_vol
        in.skip(8); // video_object_type_indication
        int verid = 1;
        if (in.readBit()) {
            verid = in.read(4);
            in.skip(3); // priority
        }
        if (in.read(4) == 15) in.skip(16); // aspect ratio, extended
        if (in.readBit()) { // vol_control_parameters
            if (in.read(2) != 1) throw new DecodeException("only 4:2:0 is decoded");
            in.skip(1); // low_delay
            if (in.readBit()) { // vbv_parameters
                in.skip(15);
                in.marker();
                in.skip(15);
                in.marker();
                in.skip(15);
                in.marker();
                in.skip(3 + 11);
                in.marker();
                in.skip(15);
                in.marker();
            }
        }
        if (in.read(2) != 0) throw new DecodeException("only rectangular pictures are decoded");
        in.marker();
        int resolution = in.read(16);
        if (resolution == 0) throw new DecodeException("zero time resolution");
        in.marker();
        int bits = Math.max(1, 32 - Integer.numberOfLeadingZeros(resolution - 1));
        if (in.readBit()) in.skip(bits); // fixed_vop_rate, fixed_vop_time_increment
        in.marker();
        int w = in.read(13);
        in.marker();
        int h = in.read(13);
        in.marker();
        if (w == 0 || h == 0 || w > MAX_WIDTH || h > MAX_HEIGHT) throw new DecodeException("bad picture size");
        if (in.readBit()) throw new DecodeException("interlaced video is not decoded");
        if (!in.readBit()) throw new DecodeException("overlapped motion compensation is not decoded");
        if (in.read(verid == 1 ? 1 : 2) != 0) throw new DecodeException("sprites are not decoded");
        if (in.readBit()) { // not_8_bit
            int quantPrecision = in.read(4);
            int bitsPerPixel = in.read(4);
            if (quantPrecision != 5 || bitsPerPixel != 8) throw new DecodeException("only 8-bit video is decoded");
        }
        if (in.readBit()) { // quant_type: MPEG matrices
            if (in.readBit()) skipMatrix();
            if (in.readBit()) skipMatrix();
            throw new DecodeException("MPEG quantisation is not decoded");
        }
        if (verid != 1 && in.readBit()) throw new DecodeException("quarter-sample motion is not decoded");
        if (!in.readBit()) throw new DecodeException("complexity estimation is not decoded");
        boolean noResync = in.readBit();
        if (in.readBit()) throw new DecodeException("data partitioning is not decoded");
        if (verid != 1) {
            if (in.readBit()) throw new DecodeException("NEWPRED is not decoded");
            if (in.readBit()) throw new DecodeException("reduced resolution VOPs are not decoded");
        }
        if (in.readBit()) throw new DecodeException("scalability is not decoded");

        resyncMarkerDisabled = noResync;
        timeIncrementBits = bits;
        if (w != width || h != height || current == null) allocate(w, h);
        haveLayer = true;
    }

    private void skipMatrix() throws DecodeException {
        for (int i = 0; i < 64; i++) {
            if (in.read(8) == 0) break;
        }
    }

    private void allocate(int w, int h) {
        width = w;
        height = h;
        mbWidth = (w + 15) / 16;
        mbHeight = (h + 15) / 16;
        current = new Picture(w, h);
        reference = new Picture(w, h);
        haveReference = false;
        int mbs = mbWidth * mbHeight;
        mbSlice = new int[mbs];
        mbIntra = new boolean[mbs];
        mbQuant = new int[mbs];
        mvX = new int[mbs * 4];
        mvY = new int[mbs * 4];
        predDc[0] = new int[mbs * 4];
        predRow[0] = new int[mbs * 4 * 8];
        predCol[0] = new int[mbs * 4 * 8];
        for (int p = 1; p < 3; p++) {
            predDc[p] = new int[mbs];
            predRow[p] = new int[mbs * 8];
            predCol[p] = new int[mbs * 8];
        }
    }

    private Picture decodeVop() throws DecodeException {
        if (!haveLayer) throw new DecodeException("VOP before a video object layer header");
        int type = in.read(2);
        if (type != I_VOP && type != P_VOP) throw new DecodeException("only I- and P-VOPs are decoded");
        while (in.readBit()) {
            // modulo_time_base: whole seconds, not needed for display
        }
        in.marker();
        in.skip(timeIncrementBits);
        in.marker();
        if (!in.readBit()) { // vop_coded: nothing changed since the last picture
            return haveReference ? reference : null;
        }
        if (type == P_VOP && !haveReference) throw new DecodeException("P-VOP without a reference picture");
        rounding = type == P_VOP ? in.read(1) : 0;
        intraDcThreshold = in.read(3);
        quant = in.read(5);
        if (quant == 0) throw new DecodeException("zero quantiser");
        fcode = 1;
        if (type == P_VOP) {
            fcode = in.read(3);
            if (fcode == 0) throw new DecodeException("zero vector range");
        }
        vopType = type;
        statistics.largestFcode = Math.max(statistics.largestFcode, fcode);
        if (rounding != 0) statistics.roundingControlVops++;
        decodeMacroblocks();

        Picture done = current;
        current = reference;
        reference = done;
        haveReference = true;
        return done;
    }

    /** A picture with the short header: its own picture header, then groups of macroblock rows. */
    private Picture decodeShortHeaderPicture() throws DecodeException {
        in.skip(22 + 8); // marker, temporal_reference
        in.marker();
        if (in.readBit()) throw new DecodeException("bad short header");
        in.skip(3); // split screen, document camera, picture freeze release
        int format = in.read(3);
        if (format < 1 || format > 5) throw new DecodeException("short header picture size not decoded");
        int type = in.read(1);
        if (in.read(4) != 0) throw new DecodeException("H.263 optional modes are not decoded");
        int q = in.read(5);
        if (q == 0) throw new DecodeException("zero quantiser");
        if (in.readBit()) throw new DecodeException("continuous presence multipoint is not decoded");
        while (in.readBit()) in.skip(8); // extra insertion information
        int w = SHORT_HEADER_SIZES[format - 1][0];
        int h = SHORT_HEADER_SIZES[format - 1][1];
        if (w > MAX_WIDTH || h > MAX_HEIGHT) throw new DecodeException("bad picture size");
        if (w != width || h != height || current == null) allocate(w, h);
        if (type == P_VOP && !haveReference) throw new DecodeException("P-picture without a reference picture");
        shortHeader = true;
        vopType = type;
        quant = q;
        rounding = 0;
        fcode = 1;
        intraDcThreshold = 0;
        statistics.shortHeaderPictures++;

        int rowsPerGroup = h <= 288 ? 1 : h <= 576 ? 2 : 4;
        int groups = mbHeight / rowsPerGroup;
        Arrays.fill(mbSlice, -1);
        slice = 0;
        for (int g = 0; g < groups; g++) {
            if (g > 0 && groupHeaderAhead()) {
                if (in.read(5) != g) throw new DecodeException("group of blocks out of place");
                in.skip(2); // gob_frame_id
                q = in.read(5);
                if (q == 0) throw new DecodeException("zero quantiser");
                quant = q;
                slice++;
                statistics.videoPackets++;
            }
            for (int mby = g * rowsPerGroup; mby < (g + 1) * rowsPerGroup; mby++) {
                for (int mbx = 0; mbx < mbWidth; mbx++) decodeMacroblock(mbx, mby);
            }
        }
        Picture done = current;
        current = reference;
        reference = done;
        haveReference = true;
        return done;
    }

    /** A group-of-blocks header, possibly after zero bits up to the byte boundary; consumed when found. */
    private boolean groupHeaderAhead() throws DecodeException {
        int p = in.position();
        if (in.peekAt(p, GOB_MARKER_BITS) == 1) {
            in.skip(GOB_MARKER_BITS);
            return true;
        }
        int aligned = (p + 7) & ~7;
        if (aligned != p && in.peekAt(p, aligned - p) == 0 && in.peekAt(aligned, GOB_MARKER_BITS) == 1) {
            in.skip(aligned - p + GOB_MARKER_BITS);
            return true;
        }
        return false;
    }

    private void decodeMacroblocks() throws DecodeException {
        int total = mbWidth * mbHeight;
        int numberBits = Math.max(1, 32 - Integer.numberOfLeadingZeros(total - 1));
        Arrays.fill(mbSlice, -1);
        slice = 0;
        for (int mb = 0; mb < total; mb++) {
            if (mb > 0 && !resyncMarkerDisabled && resyncMarkerAhead()) {
                int number = in.read(numberBits);
                if (number != mb) throw new DecodeException("video packet out of place");
                int q = in.read(5);
                if (q == 0) throw new DecodeException("zero quantiser");
                quant = q;
                if (in.readBit()) { // header_extension_code repeats the VOP header
                    while (in.readBit()) {
                        // modulo_time_base
                    }
                    in.marker();
                    in.skip(timeIncrementBits);
                    in.marker();
                    in.skip(2 + 3);
                    if (vopType != I_VOP) in.skip(3);
                }
                slice++;
                statistics.videoPackets++;
            }
            decodeMacroblock(mb % mbWidth, mb / mbWidth);
        }
    }

    /** Stuffing to the byte boundary (a 0, then 1s) followed by a resync marker; consumed when found. */
    private boolean resyncMarkerAhead() throws DecodeException {
        int p = in.position();
        int stuffing = 8 - (p & 7);
        if (in.peekAt(p, stuffing) != (1 << (stuffing - 1)) - 1) return false;
        int markerBits = vopType == I_VOP ? 17 : 16 + fcode;
        if (in.peekAt(p + stuffing, markerBits) != 1) return false;
        in.skip(stuffing + markerBits);
        return true;
    }

    // ----------------------------------------------------------- macroblocks

    private void decodeMacroblock(int mbx, int mby) throws DecodeException {
        int mb = mby * mbWidth + mbx;
        mbSlice[mb] = slice;
        int mcbpc;
        if (vopType == I_VOP) {
            do {
                mcbpc = Mpeg4Tables.MCBPC_INTRA.decode(in);
            } while (mcbpc == Mpeg4Tables.STUFFING);
        } else {
            for (;;) {
                if (in.readBit()) { // not_coded
                    skippedMacroblock(mbx, mby, mb);
                    return;
                }
                mcbpc = Mpeg4Tables.MCBPC_INTER.decode(in);
                if (mcbpc != Mpeg4Tables.STUFFING) break;
            }
        }
        int type = mcbpc >> 2;
        int cbpc = mcbpc & 3;
        if (shortHeader && type == 2) throw new DecodeException("four vectors in a short header picture");
        if (type >= 3) {
            boolean acPrediction = !shortHeader && in.readBit();
            int cbpy = Mpeg4Tables.CBPY.decode(in);
            if (type == 4) changeQuant();
            intraMacroblock(mbx, mby, mb, (cbpy << 2) | cbpc, acPrediction);
        } else {
            int cbpy = 15 - Mpeg4Tables.CBPY.decode(in);
            if (type == 1) changeQuant();
            interMacroblock(mbx, mby, mb, (cbpy << 2) | cbpc, type == 2);
        }
    }

    private void changeQuant() throws DecodeException {
        statistics.quantiserChanges++;
        quant = Math.max(1, Math.min(31, quant + Mpeg4Tables.DQUANT[in.read(2)]));
    }

    private void skippedMacroblock(int mbx, int mby, int mb) {
        mbIntra[mb] = false;
        mbQuant[mb] = quant;
        statistics.skippedMacroblocks++;
        setVectors(mbx, mby, 0, 0);
        copyBlock(reference.y, current.y, current.codedWidth, mbx * 16, mby * 16, 16);
        int cs = current.chromaStride();
        copyBlock(reference.u, current.u, cs, mbx * 8, mby * 8, 8);
        copyBlock(reference.v, current.v, cs, mbx * 8, mby * 8, 8);
    }

    private void setVectors(int mbx, int mby, int x, int y) {
        int stride = 2 * mbWidth;
        int g = 2 * mby * stride + 2 * mbx;
        mvX[g] = mvX[g + 1] = mvX[g + stride] = mvX[g + stride + 1] = x;
        mvY[g] = mvY[g + 1] = mvY[g + stride] = mvY[g + stride + 1] = y;
    }

    private void intraMacroblock(int mbx, int mby, int mb, int cbp, boolean acPrediction) throws DecodeException {
        mbIntra[mb] = true;
        mbQuant[mb] = quant;
        statistics.intraMacroblocks++;
        if (acPrediction) statistics.acPredictedMacroblocks++;
        setVectors(mbx, mby, 0, 0);
        boolean dcCoded = intraDcThreshold == 0 || (intraDcThreshold < 7 && quant < 11 + 2 * intraDcThreshold);
        for (int b = 0; b < 6; b++) {
            if (shortHeader) {
                shortHeaderIntraBlock((cbp & (32 >> b)) != 0);
            } else {
                intraBlock(mbx, mby, b, (cbp & (32 >> b)) != 0, acPrediction, dcCoded);
            }
            idct.inverse(block, spatial);
            if (b < 4) {
                storeBlock(current.y, current.codedWidth, mbx * 16 + 8 * (b & 1), mby * 16 + 8 * (b >> 1));
            } else {
                storeBlock(b == 4 ? current.u : current.v, current.chromaStride(), mbx * 8, mby * 8);
            }
        }
    }

    /** Whether the block at grid position (gx, gy) of plane p can serve intra prediction. */
    private boolean intraAvailable(int p, int gx, int gy) {
        if (gx < 0 || gy < 0) return false;
        int mb = p == 0 ? (gy >> 1) * mbWidth + (gx >> 1) : gy * mbWidth + gx;
        return mbSlice[mb] == slice && mbIntra[mb];
    }

    private int macroblockOf(int p, int gx, int gy) {
        return p == 0 ? (gy >> 1) * mbWidth + (gx >> 1) : gy * mbWidth + gx;
    }

    /** Reads one intra block and leaves its dequantised coefficients in block. */
    private void intraBlock(int mbx, int mby, int b, boolean coded, boolean acPrediction, boolean dcCoded)
            throws DecodeException {
        int p = b < 4 ? 0 : b - 3;
        int gx = p == 0 ? 2 * mbx + (b & 1) : mbx;
        int gy = p == 0 ? 2 * mby + (b >> 1) : mby;
        int gw = p == 0 ? 2 * mbWidth : mbWidth;
        int[] dcs = predDc[p];
        boolean hasA = intraAvailable(p, gx - 1, gy);
        boolean hasB = intraAvailable(p, gx - 1, gy - 1);
        boolean hasC = intraAvailable(p, gx, gy - 1);
        int here = gy * gw + gx;
        int fa = hasA ? dcs[here - 1] : 1024;
        int fb = hasB ? dcs[here - gw - 1] : 1024;
        int fc = hasC ? dcs[here - gw] : 1024;
        boolean fromAbove = Math.abs(fa - fb) < Math.abs(fb - fc);
        int[] scan = !acPrediction ? Mpeg4Tables.ZIGZAG
                : fromAbove ? Mpeg4Tables.ALTERNATE_HORIZONTAL : Mpeg4Tables.ALTERNATE_VERTICAL;

        int[] qf = block;
        int start = 0;
        if (dcCoded) {
            int size = (p == 0 ? Mpeg4Tables.DC_SIZE_LUMA : Mpeg4Tables.DC_SIZE_CHROMA).decode(in);
            int diff = 0;
            if (size > 0) {
                diff = in.read(size);
                if ((diff >> (size - 1)) == 0) diff -= (1 << size) - 1;
                if (size > 8) in.marker();
            }
            qf[0] = diff;
            start = 1;
        }
        if (coded) readCoefficients(Mpeg4Tables.INTRA, scan, start);

        int scaler = dcScaler(p == 0, quant);
        qf[0] = clip(qf[0] + divideRounded(fromAbove ? fc : fa, scaler), -2048, 2047);
        if (acPrediction) {
            if (fromAbove && hasC) {
                int[] rows = predRow[p];
                int from = (here - gw) * 8;
                int q = mbQuant[macroblockOf(p, gx, gy - 1)];
                for (int i = 1; i < 8; i++) qf[i] = clip(qf[i] + rescale(rows[from + i], q), -2048, 2047);
            } else if (!fromAbove && hasA) {
                int[] cols = predCol[p];
                int from = (here - 1) * 8;
                int q = mbQuant[macroblockOf(p, gx - 1, gy)];
                for (int i = 1; i < 8; i++) qf[i * 8] = clip(qf[i * 8] + rescale(cols[from + i], q), -2048, 2047);
            }
        }
        int dc = clip(qf[0] * scaler, -2048, 2047);
        dcs[here] = dc;
        int[] rows = predRow[p];
        int[] cols = predCol[p];
        for (int i = 1; i < 8; i++) {
            rows[here * 8 + i] = qf[i];
            cols[here * 8 + i] = qf[i * 8];
        }
        qf[0] = dc;
        dequantise(qf, 1, quant);
    }

    /** An intra block of a short header picture: a fixed-length DC, no prediction. */
    private void shortHeaderIntraBlock(boolean coded) throws DecodeException {
        int dc = in.read(8);
        if (dc == 0 || dc == 128) throw new DecodeException("bad intra DC");
        if (coded) readCoefficients(Mpeg4Tables.INTER, Mpeg4Tables.ZIGZAG, 1);
        block[0] = (dc == 255 ? 128 : dc) * 8;
        dequantise(block, 1, quant);
    }

    /** A neighbour's quantised AC value brought to this block's quantiser. */
    private int rescale(int value, int neighbourQuant) {
        if (value == 0 || neighbourQuant == quant) return value;
        return divideRounded(value * neighbourQuant, quant);
    }

    private void interMacroblock(int mbx, int mby, int mb, int cbp, boolean fourVectors) throws DecodeException {
        mbIntra[mb] = false;
        mbQuant[mb] = quant;
        statistics.interMacroblocks++;
        if (fourVectors) statistics.fourVectorMacroblocks++;
        int stride = 2 * mbWidth;
        int g0 = 2 * mby * stride + 2 * mbx;
        if (fourVectors) {
            for (int k = 0; k < 4; k++) {
                int g = g0 + (k >> 1) * stride + (k & 1);
                decodeVector(2 * mbx + (k & 1), 2 * mby + (k >> 1), k, g);
            }
        } else {
            decodeVector(2 * mbx, 2 * mby, 0, g0);
            setVectors(mbx, mby, mvX[g0], mvY[g0]);
        }

        int ys = current.codedWidth;
        int cs = current.chromaStride();
        int cx;
        int cy;
        if (fourVectors) {
            int sx = 0;
            int sy = 0;
            for (int k = 0; k < 4; k++) {
                int g = g0 + (k >> 1) * stride + (k & 1);
                predict(reference.y, current.y, ys, current.codedWidth, current.codedHeight,
                        mbx * 16 + 8 * (k & 1), mby * 16 + 8 * (k >> 1), 8, mvX[g], mvY[g]);
                sx += mvX[g];
                sy += mvY[g];
            }
            cx = chromaFromSum(sx);
            cy = chromaFromSum(sy);
        } else {
            predict(reference.y, current.y, ys, current.codedWidth, current.codedHeight,
                    mbx * 16, mby * 16, 16, mvX[g0], mvY[g0]);
            cx = (mvX[g0] >> 1) | (mvX[g0] & 1);
            cy = (mvY[g0] >> 1) | (mvY[g0] & 1);
        }
        int cw = current.codedWidth / 2;
        int ch = current.codedHeight / 2;
        predict(reference.u, current.u, cs, cw, ch, mbx * 8, mby * 8, 8, cx, cy);
        predict(reference.v, current.v, cs, cw, ch, mbx * 8, mby * 8, 8, cx, cy);

        for (int b = 0; b < 6; b++) {
            if ((cbp & (32 >> b)) == 0) continue;
            readCoefficients(Mpeg4Tables.INTER, Mpeg4Tables.ZIGZAG, 0);
            dequantise(block, 0, quant);
            idct.inverse(block, spatial);
            if (b < 4) {
                addBlock(current.y, ys, mbx * 16 + 8 * (b & 1), mby * 16 + 8 * (b >> 1));
            } else {
                addBlock(b == 4 ? current.u : current.v, cs, mbx * 8, mby * 8);
            }
        }
    }

    /** A chroma vector from the sum of the four luminance vectors of a macroblock. */
    private static int chromaFromSum(int sum) {
        int a = Math.abs(sum);
        int c = ((a >> 4) << 1) + CHROMA_ROUND_16[a & 15];
        return sum < 0 ? -c : c;
    }

    // --------------------------------------------------------- motion vectors

    private void decodeVector(int gx, int gy, int k, int g) throws DecodeException {
        int stride = 2 * mbWidth;
        int ax = gx - 1, ay = gy;
        int bx = gx, by = gy - 1;
        int cx = gx + CANDIDATE_C_OFFSET[k], cy = gy - 1;
        boolean va = vectorAvailable(ax, ay);
        boolean vb = vectorAvailable(bx, by);
        boolean vc = vectorAvailable(cx, cy);
        int px;
        int py;
        int invalid = (va ? 0 : 1) + (vb ? 0 : 1) + (vc ? 0 : 1);
        if (invalid == 3) {
            px = 0;
            py = 0;
        } else if (invalid == 2) {
            int at = va ? ay * stride + ax : vb ? by * stride + bx : cy * stride + cx;
            px = mvX[at];
            py = mvY[at];
        } else {
            int x1 = va ? mvX[ay * stride + ax] : 0, y1 = va ? mvY[ay * stride + ax] : 0;
            int x2 = vb ? mvX[by * stride + bx] : 0, y2 = vb ? mvY[by * stride + bx] : 0;
            int x3 = vc ? mvX[cy * stride + cx] : 0, y3 = vc ? mvY[cy * stride + cx] : 0;
            px = median(x1, x2, x3);
            py = median(y1, y2, y3);
        }
        mvX[g] = wrapVector(px + readVectorDifference());
        mvY[g] = wrapVector(py + readVectorDifference());
    }

    /** Candidates outside the picture, not yet decoded, or in another video packet do not count. */
    private boolean vectorAvailable(int gx, int gy) {
        if (gx < 0 || gy < 0 || gx >= 2 * mbWidth) return false;
        return mbSlice[(gy >> 1) * mbWidth + (gx >> 1)] == slice;
    }

    private int readVectorDifference() throws DecodeException {
        int code = Mpeg4Tables.MOTION_CODE.decode(in);
        if (code == 0) return 0;
        boolean negative = in.readBit();
        int value = code;
        if (fcode > 1) {
            int r = fcode - 1;
            value = ((code - 1) << r) + in.read(r) + 1;
        }
        return negative ? -value : value;
    }

    private int wrapVector(int v) {
        int r = fcode - 1;
        int low = -32 << r;
        int high = (32 << r) - 1;
        int range = 64 << r;
        if (v < low) v += range;
        else if (v > high) v -= range;
        return v;
    }

    private static int median(int a, int b, int c) {
        return Math.max(Math.min(a, b), Math.min(Math.max(a, b), c));
    }

    // -------------------------------------------------------------- texture

    /** Reads coefficient events into block (quantised levels at their scan positions). */
    private void readCoefficients(Mpeg4Tables.CoefficientTable table, int[] scan, int start) throws DecodeException {
        int i = start;
        for (;;) {
            int event = table.vlc.decode(in);
            int last;
            int run;
            int level;
            if (event == Mpeg4Tables.ESCAPE) {
                statistics.escapeCodes++;
                if (shortHeader) { // fixed length with an 8-bit level
                    last = in.read(1);
                    run = in.read(6);
                    level = in.read(8);
                    if (level >= 128) level -= 256;
                    if (level == 0 || level == -128) throw new DecodeException("bad escaped level");
                } else if (!in.readBit()) { // level offset by the largest level of its run
                    event = table.vlc.decode(in);
                    if (event == Mpeg4Tables.ESCAPE) throw new DecodeException("escape inside escape");
                    last = event >> 16;
                    run = (event >> 8) & 0xFF;
                    level = (event & 0xFF) + table.maxLevel[last][run];
                    if (in.readBit()) level = -level;
                } else if (!in.readBit()) { // run offset by the longest run of its level
                    event = table.vlc.decode(in);
                    if (event == Mpeg4Tables.ESCAPE) throw new DecodeException("escape inside escape");
                    last = event >> 16;
                    level = event & 0xFF;
                    run = ((event >> 8) & 0xFF) + table.maxRun[last][level] + 1;
                    if (in.readBit()) level = -level;
                } else { // fixed length
                    last = in.read(1);
                    run = in.read(6);
                    in.marker();
                    level = in.read(12);
                    in.marker();
                    if (level >= 2048) level -= 4096;
                    if (level == 0) throw new DecodeException("zero level");
                }
            } else {
                last = event >> 16;
                run = (event >> 8) & 0xFF;
                level = event & 0xFF;
                if (in.readBit()) level = -level;
            }
            i += run;
            if (i > 63) throw new DecodeException("coefficients past the end of a block");
            block[scan[i]] = level;
            i++;
            if (last != 0) return;
        }
    }

    /** H.263 inverse quantisation of every coefficient from index start on. */
    private static void dequantise(int[] coefficients, int start, int q) {
        int even = (q & 1) == 0 ? 1 : 0;
        for (int i = start; i < 64; i++) {
            int level = coefficients[i];
            if (level == 0) continue;
            if (level > 0) {
                coefficients[i] = Math.min(2047, q * (2 * level + 1) - even);
            } else {
                coefficients[i] = Math.max(-2048, -(q * (-2 * level + 1) - even));
            }
        }
    }

    private static int dcScaler(boolean luma, int q) {
        if (q < 5) return 8;
        if (luma) return q < 9 ? 2 * q : q < 25 ? q + 8 : 2 * q - 16;
        return q < 25 ? (q + 13) >> 1 : q - 6;
    }

    /** Division rounded to the nearest integer, halves away from zero (b > 0). */
    private static int divideRounded(int a, int b) {
        return a >= 0 ? (a + (b >> 1)) / b : -((-a + (b >> 1)) / b);
    }

    private static int clip(int v, int low, int high) {
        return v < low ? low : v > high ? high : v;
    }

    // --------------------------------------------------------------- pixels

    private void storeBlock(byte[] plane, int stride, int x, int y) {
        int[] s = spatial;
        for (int j = 0; j < 8; j++) {
            int d = (y + j) * stride + x;
            for (int i = 0; i < 8; i++) {
                int v = s[j * 8 + i];
                plane[d + i] = (byte) (v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }

    private void addBlock(byte[] plane, int stride, int x, int y) {
        int[] s = spatial;
        for (int j = 0; j < 8; j++) {
            int d = (y + j) * stride + x;
            for (int i = 0; i < 8; i++) {
                int v = (plane[d + i] & 0xFF) + s[j * 8 + i];
                plane[d + i] = (byte) (v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }

    private static void copyBlock(byte[] from, byte[] to, int stride, int x, int y, int size) {
        for (int j = 0; j < size; j++) {
            int at = (y + j) * stride + x;
            System.arraycopy(from, at, to, at, size);
        }
    }

    /**
     * Half-sample motion compensation of a size x size block at (x, y) from
     * ref into dst. Samples outside the reference are those of its nearest
     * edge, which is what an edge-extended reference holds.
     */
    private void predict(byte[] ref, byte[] dst, int stride, int planeWidth, int planeHeight,
                         int x, int y, int size, int mvx, int mvy) {
        int ix = x + (mvx >> 1);
        int iy = y + (mvy >> 1);
        int hx = mvx & 1;
        int hy = mvy & 1;
        int r1 = 1 - rounding;
        int r2 = 2 - rounding;
        if ((hx | hy) != 0) statistics.halfSamplePredictions++;
        if (ix >= 0 && iy >= 0 && ix + size + hx <= planeWidth && iy + size + hy <= planeHeight) {
            for (int j = 0; j < size; j++) {
                int s = (iy + j) * stride + ix;
                int d = (y + j) * stride + x;
                switch (hx | (hy << 1)) {
                    case 0:
                        System.arraycopy(ref, s, dst, d, size);
                        break;
                    case 1:
                        for (int i = 0; i < size; i++) {
                            dst[d + i] = (byte) (((ref[s + i] & 0xFF) + (ref[s + i + 1] & 0xFF) + r1) >> 1);
                        }
                        break;
                    case 2:
                        for (int i = 0; i < size; i++) {
                            dst[d + i] = (byte) (((ref[s + i] & 0xFF) + (ref[s + i + stride] & 0xFF) + r1) >> 1);
                        }
                        break;
                    default:
                        for (int i = 0; i < size; i++) {
                            int t = s + i;
                            dst[d + i] = (byte) (((ref[t] & 0xFF) + (ref[t + 1] & 0xFF) + (ref[t + stride] & 0xFF)
                                    + (ref[t + stride + 1] & 0xFF) + r2) >> 2);
                        }
                        break;
                }
            }
            return;
        }
        statistics.edgePredictions++;
        int maxX = planeWidth - 1;
        int maxY = planeHeight - 1;
        for (int j = 0; j < size; j++) {
            int y0 = clip(iy + j, 0, maxY) * stride;
            int y1 = clip(iy + j + hy, 0, maxY) * stride;
            int d = (y + j) * stride + x;
            for (int i = 0; i < size; i++) {
                int x0 = clip(ix + i, 0, maxX);
                int x1 = clip(ix + i + hx, 0, maxX);
                int a = ref[y0 + x0] & 0xFF;
                int b = ref[y0 + x1] & 0xFF;
                int c = ref[y1 + x0] & 0xFF;
                int e = ref[y1 + x1] & 0xFF;
                int v;
                switch (hx | (hy << 1)) {
                    case 0:
                        v = a;
                        break;
                    case 1:
                        v = (a + b + r1) >> 1;
                        break;
                    case 2:
                        v = (a + c + r1) >> 1;
                        break;
                    default:
                        v = (a + b + c + e + r2) >> 2;
                        break;
                }
                dst[d + i] = (byte) v;
            }
        }
    }
}
