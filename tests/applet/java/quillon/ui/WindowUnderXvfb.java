package quillon.ui;

import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertTrue;

import java.awt.Component;
import java.awt.Container;
import java.awt.Frame;
import java.awt.Point;
import java.awt.Rectangle;
import java.awt.Robot;
import java.awt.image.BufferedImage;
import java.io.File;
import java.util.HashMap;
import java.util.List;
import java.util.Map;

import javax.imageio.ImageIO;

import org.junit.Test;

import quillon.net.Packet;
import quillon.testing.FakeServer;
import quillon.testing.Fixtures;
import quillon.testing.Waiting;
import quillon.video.Mpeg4Decoder;
import quillon.video.Picture;
import quillon.video.YuvToRgb;

/**
 * The viewer in its own window on a display (run under Xvfb by CTest): the
 * applet runs inside the main window and paints the picture it receives.
 */
public class WindowUnderXvfb {
    static PictureCanvas findCanvas(Component c) {
        if (c instanceof PictureCanvas) return (PictureCanvas) c;
        if (c instanceof Container) {
            for (Component child : ((Container) c).getComponents()) {
                PictureCanvas found = findCanvas(child);
                if (found != null) return found;
            }
        }
        return null;
    }

    @Test
    public void appletPaintsTheLivePictureInItsWindow() throws Exception {
        List<Packet> video = Fixtures.packets("moving_100k");
        // What the last picture must look like in the 400 x 300 picture area.
        Mpeg4Decoder decoder = new Mpeg4Decoder();
        Picture last = null;
        for (Packet p : video) last = decoder.decode(p.payload, 4, p.payload.length - 4);
        final int[] expected = YuvToRgb.convert(last, ViewerPanel.PICTURE_WIDTH, ViewerPanel.PICTURE_HEIGHT);

        FakeServer server = new FakeServer(video, false);
        Frame frame = null;
        try {
            Map<String, String> params = new HashMap<String, String>();
            params.put("address", "127.0.0.1");
            params.put("port", String.valueOf(server.port()));
            params.put("propertyfile", "prop1.skn");
            params.put("sound", "off");
            frame = (Frame) Class.forName("Quillon").getMethod("openWindow", Map.class, boolean.class)
                    .invoke(null, params, false);
            final PictureCanvas canvas = findCanvas(frame);
            assertNotNull("the picture area is in the window", canvas);
            final Robot robot = new Robot();
            final BufferedImage[] shot = new BufferedImage[1];
            final double[] difference = {Double.MAX_VALUE};
            boolean painted = Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    if (!canvas.isShowing()) return false;
                    Point at = canvas.getLocationOnScreen();
                    shot[0] = robot.createScreenCapture(new Rectangle(at.x, at.y, ViewerPanel.PICTURE_WIDTH,
                            ViewerPanel.PICTURE_HEIGHT));
                    difference[0] = meanDifference(shot[0], expected);
                    return difference[0] < 2.0;
                }
            }, 20000);
            File out = new File(Fixtures.folder(), "window.png");
            if (shot[0] != null) ImageIO.write(shot[0], "png", out);
            assertTrue("the window shows the last picture (mean difference " + difference[0] + "; see " + out + ")",
                    painted);
        } finally {
            if (frame != null) {
                frame.dispatchEvent(new java.awt.event.WindowEvent(frame, java.awt.event.WindowEvent.WINDOW_CLOSING));
            }
            server.close();
        }
    }

    static double meanDifference(BufferedImage shot, int[] expected) {
        long sum = 0;
        int w = shot.getWidth();
        for (int y = 0; y < shot.getHeight(); y++) {
            for (int x = 0; x < w; x++) {
                int a = shot.getRGB(x, y);
                int b = expected[y * w + x];
                for (int s = 0; s < 24; s += 8) sum += Math.abs(((a >> s) & 0xFF) - ((b >> s) & 0xFF));
            }
        }
        return sum / (3.0 * w * shot.getHeight());
    }
}
