package quillon.ui;

import java.applet.Applet;
import java.applet.AppletContext;
import java.applet.AppletStub;
import java.applet.AudioClip;
import java.awt.Image;
import java.io.File;
import java.io.InputStream;
import java.net.MalformedURLException;
import java.net.URL;
import java.util.Collections;
import java.util.Enumeration;
import java.util.Iterator;
import java.util.Map;

/**
 * Stands in for the browser when the viewer runs as a desktop program: it
 * hands the applet the page's parameters and answers the few context
 * questions an applet may ask.
 */
public final class StandaloneStub implements AppletStub, AppletContext {
    private final Map<String, String> parameters;
    private final Applet applet;

    public StandaloneStub(Applet applet, Map<String, String> parameters) {
        this.applet = applet;
        this.parameters = parameters;
    }

    @Override
    public boolean isActive() {
        return true;
    }

    @Override
    public URL getDocumentBase() {
        return getCodeBase();
    }

    @Override
    public URL getCodeBase() {
        try {
            return new File(".").toURI().toURL();
        } catch (MalformedURLException e) {
            return null;
        }
    }

    @Override
    public String getParameter(String name) {
        return parameters.get(name.toLowerCase());
    }

    @Override
    public AppletContext getAppletContext() {
        return this;
    }

    @Override
    public void appletResize(int width, int height) {
        applet.setSize(width, height);
    }

    @Override
    public AudioClip getAudioClip(URL url) {
        return null;
    }

    @Override
    public Image getImage(URL url) {
        return null;
    }

    @Override
    public Applet getApplet(String name) {
        return name != null && name.equals("NetVideo") ? applet : null;
    }

    @Override
    public Enumeration<Applet> getApplets() {
        return Collections.enumeration(Collections.singletonList(applet));
    }

    @Override
    public void showDocument(URL url) {
        // No browser to show it in.
    }

    @Override
    public void showDocument(URL url, String target) {
        // No browser to show it in.
    }

    @Override
    public void showStatus(String status) {
        // No status bar.
    }

    @Override
    public void setStream(String key, InputStream stream) {
        // Streams between applets of one page have no use here.
    }

    @Override
    public InputStream getStream(String key) {
        return null;
    }

    @Override
    public Iterator<String> getStreamKeys() {
        return Collections.<String>emptyList().iterator();
    }
}
