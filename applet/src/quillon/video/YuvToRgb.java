package quillon.video;

/**
 * Turns a decoded picture into ARGB pixels of any size: bilinear scaling of
 * each plane, then BT.601 colour conversion of studio-range samples.
 */
public final class YuvToRgb {
    private YuvToRgb() {}

    /** A new ARGB array of outWidth x outHeight pixels. */
    public static int[] convert(Picture p, int outWidth, int outHeight) {
        int[] out = new int[outWidth * outHeight];
        convert(p, outWidth, outHeight, out);
        return out;
    }

    public static void convert(Picture p, int outWidth, int outHeight, int[] out) {
        if (outWidth <= 0 || outHeight <= 0) return;
        int[] lx = new int[outWidth];
        int[] lfx = new int[outWidth];
        int[] cxs = new int[outWidth];
        int[] cfx = new int[outWidth];
        positions(p.width, outWidth, lx, lfx);
        positions(p.width / 2, outWidth, cxs, cfx);
        int ys = p.codedWidth;
        int cs = p.chromaStride();
        int lastY = p.height - 1;
        int lastC = p.height / 2 - 1;
        int lastLx = p.width - 1;
        int lastCx = p.width / 2 - 1;
        for (int j = 0; j < outHeight; j++) {
            int fy = position(p.height, outHeight, j);
            int y0 = fy >> 8;
            int wy = fy & 255;
            int y1 = Math.min(y0 + 1, lastY);
            int fc = position(p.height / 2, outHeight, j);
            int c0 = fc >> 8;
            int wc = fc & 255;
            int c1 = Math.min(c0 + 1, lastC);
            int row = j * outWidth;
            for (int i = 0; i < outWidth; i++) {
                int x0 = lx[i];
                int x1 = Math.min(x0 + 1, lastLx);
                int yv = bilinear(p.y, ys, x0, x1, y0, y1, lfx[i], wy);
                int u0 = cxs[i];
                int u1 = Math.min(u0 + 1, lastCx);
                int uv = bilinear(p.u, cs, u0, u1, c0, c1, cfx[i], wc);
                int vv = bilinear(p.v, cs, u0, u1, c0, c1, cfx[i], wc);
                int c = 298 * (yv - 16);
                int d = uv - 128;
                int e = vv - 128;
                int r = clip((c + 409 * e + 128) >> 8);
                int g = clip((c - 100 * d - 208 * e + 128) >> 8);
                int b = clip((c + 516 * d + 128) >> 8);
                out[row + i] = 0xFF000000 | (r << 16) | (g << 8) | b;
            }
        }
    }

    /** Source position of output sample i in 1/256 steps, pixel centres aligned, clamped inside. */
    private static int position(int in, int out, int i) {
        int f = (int) (((2L * i + 1) * in * 256) / (2L * out)) - 128;
        if (f < 0) f = 0;
        if (f > (in - 1) * 256) f = (in - 1) * 256;
        return f;
    }

    private static void positions(int in, int out, int[] index, int[] fraction) {
        for (int i = 0; i < out; i++) {
            int f = position(in, out, i);
            index[i] = f >> 8;
            fraction[i] = f & 255;
        }
    }

    private static int bilinear(byte[] plane, int stride, int x0, int x1, int y0, int y1, int wx, int wy) {
        int a = plane[y0 * stride + x0] & 0xFF;
        int b = plane[y0 * stride + x1] & 0xFF;
        int c = plane[y1 * stride + x0] & 0xFF;
        int d = plane[y1 * stride + x1] & 0xFF;
        int top = a * (256 - wx) + b * wx;
        int bottom = c * (256 - wx) + d * wx;
        return (top * (256 - wy) + bottom * wy + (1 << 15)) >> 16;
    }

    private static int clip(int v) {
        return v < 0 ? 0 : v > 255 ? 255 : v;
    }
}
