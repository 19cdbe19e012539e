package quillon.ui;

import java.awt.Color;
import java.awt.Font;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.io.Reader;
import java.util.Properties;

/**
 * The viewer's look and texts from the property file named by the page's
 * PropertyFile parameter (prop1.skn inside the archive), read as UTF-8. Every
 * key has a built-in default, so a missing or broken file changes nothing but
 * the look.
 */
public final class Skin {
    private final Properties values = new Properties();

    private Skin() {}

    /** The skin named name in the archive; defaults only when it is missing. */
    public static Skin load(String name) {
        Skin skin = new Skin();
        if (name == null || name.indexOf("..") >= 0) return skin;
        InputStream in = Skin.class.getResourceAsStream("/" + name);
        if (in == null) return skin;
        try {
            Reader reader = new InputStreamReader(in, "UTF-8");
            try {
                skin.values.load(reader);
            } finally {
                reader.close();
            }
        } catch (IOException | IllegalArgumentException broken) {
            skin.values.clear();
        }
        return skin;
    }

    public String text(String key, String fallback) {
        String v = values.getProperty(key);
        return v == null ? fallback : v;
    }

    public Color color(String key, Color fallback) {
        String v = values.getProperty(key);
        if (v == null) return fallback;
        try {
            return new Color(Integer.parseInt(v.trim().replace("#", ""), 16));
        } catch (NumberFormatException bad) {
            return fallback;
        }
    }

    public int number(String key, int fallback) {
        String v = values.getProperty(key);
        if (v == null) return fallback;
        try {
            return Integer.parseInt(v.trim());
        } catch (NumberFormatException bad) {
            return fallback;
        }
    }

    public Font font(String key, Font fallback) {
        String name = values.getProperty(key + ".name");
        if (name == null) return fallback;
        return new Font(name, number(key + ".bold", 0) != 0 ? Font.BOLD : Font.PLAIN, number(key + ".size", 12));
    }
}
