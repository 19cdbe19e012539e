package quillon.ui;

import java.awt.Canvas;
import java.awt.Color;
import java.awt.Dimension;
import java.awt.Graphics;
import java.awt.image.BufferedImage;

/** The picture area: shows the latest decoded picture, or a caption until one comes. */
public final class PictureCanvas extends Canvas {
    private static final long serialVersionUID = 1L;

    private final Object lock = new Object();
    private BufferedImage image; // guarded by lock
    private String caption;
    private final Color captionColour;

    public PictureCanvas(int width, int height, Color background, Color captionColour, String caption) {
        setSize(width, height);
        setBackground(background);
        this.captionColour = captionColour;
        this.caption = caption;
    }

    @Override
    public Dimension getPreferredSize() {
        return getSize();
    }

    /** Called from any thread with a picture of any size (it is drawn scaled if need be). */
    public void setPicture(int[] argb, int width, int height) {
        synchronized (lock) {
            if (image == null || image.getWidth() != width || image.getHeight() != height) {
                image = new BufferedImage(width, height, BufferedImage.TYPE_INT_RGB);
            }
            image.setRGB(0, 0, width, height, argb, 0, width);
        }
        repaint();
    }

    public void setCaption(String text) {
        caption = text;
        repaint();
    }

    @Override
    public void update(Graphics g) {
        paint(g); // no clearing first: the picture covers the whole area
    }

    @Override
    public void paint(Graphics g) {
        int w = getWidth();
        int h = getHeight();
        synchronized (lock) {
            if (image != null) {
                g.drawImage(image, 0, 0, w, h, null);
                return;
            }
        }
        g.setColor(getBackground());
        g.fillRect(0, 0, w, h);
        String text = caption;
        if (text != null) {
            g.setColor(captionColour);
            int tw = g.getFontMetrics().stringWidth(text);
            g.drawString(text, (w - tw) / 2, h / 2);
        }
    }
}
