package quillon.ui;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;

import java.awt.Color;
import java.awt.Font;

import org.junit.Test;

public class SkinTest {
    static final Color MARK = new Color(1, 2, 3);

    @Test
    public void shippedSkinGivesEveryColourFontAndText() {
        Skin skin = Skin.load("prop1.skn");
        String[] colours = {"background", "foreground", "picture.background", "picture.caption", "status.foreground",
            "chat.background", "chat.foreground"};
        for (String key : colours) assertNotEquals(key, MARK, skin.color(key, MARK));
        assertNotEquals(null, skin.font("font", null));
        String[] texts = {"title", "connecting", "online", "offline", "send", "register", "registerSend", "cancel",
            "callStart", "callStop", "callStarted", "callStopped", "registered", "sendFailed", "name", "company",
            "email", "phone", "interest"};
        for (String key : texts) assertNotEquals(key, "?", skin.text("text." + key, "?"));
    }

    @Test
    public void missingOrOddSkinsFallBackToDefaults() {
        Font fallback = new Font("SansSerif", Font.PLAIN, 12);
        for (String name : new String[] {"no-such.skn", "../prop1.skn", null}) {
            Skin skin = Skin.load(name);
            assertEquals(MARK, skin.color("background", MARK));
            assertEquals(fallback, skin.font("font", fallback));
            assertEquals("Send", skin.text("text.send", "Send"));
        }
    }
}
