package quillon.video;

/**
 * One decoded picture in 4:2:0 planes. The planes cover whole macroblocks
 * (stride = codedWidth); width and height are the displayed size.
 */
public final class Picture {
    public final int width;
    public final int height;
    public final int codedWidth;
    public final int codedHeight;
    public final byte[] y;
    public final byte[] u;
    public final byte[] v;

    Picture(int width, int height) {
        this.width = width;
        this.height = height;
        this.codedWidth = (width + 15) & ~15;
        this.codedHeight = (height + 15) & ~15;
        y = new byte[codedWidth * codedHeight];
        u = new byte[codedWidth * codedHeight / 4];
        v = new byte[codedWidth * codedHeight / 4];
    }

    public int chromaStride() {
        return codedWidth / 2;
    }

    /** The displayed area as I420 bytes (Y, then U, then V, without padding). */
    public byte[] toI420() {
        int cw = width / 2, ch = height / 2;
        byte[] out = new byte[width * height + 2 * cw * ch];
        for (int j = 0; j < height; j++) System.arraycopy(y, j * codedWidth, out, j * width, width);
        int at = width * height;
        for (int j = 0; j < ch; j++) System.arraycopy(u, j * chromaStride(), out, at + j * cw, cw);
        at += cw * ch;
        for (int j = 0; j < ch; j++) System.arraycopy(v, j * chromaStride(), out, at + j * cw, cw);
        return out;
    }
}
