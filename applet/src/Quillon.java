import java.applet.Applet;
import java.awt.BorderLayout;
import java.awt.Frame;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.util.HashMap;
import java.util.Map;

import quillon.ViewerSession;
import quillon.ui.Skin;
import quillon.ui.StandaloneStub;
import quillon.ui.ViewerPanel;

/**
 * The broadcast viewer. In a page it reads the parameters address, port and
 * PropertyFile; as a program (java -jar client.jar --address A --port P) it
 * opens its own window and runs the same way.
 */
public class Quillon extends Applet {
    private static final long serialVersionUID = 1L;
    private static final int DEFAULT_PORT = 80;

    private ViewerPanel panel;
    private ViewerSession session;

    @Override
    public void init() {
        Skin skin = Skin.load(parameter("PropertyFile", "prop1.skn"));
        setLayout(new BorderLayout());
        setBackground(skin.color("background", getBackground()));
        panel = new ViewerPanel(skin);
        add(panel, BorderLayout.CENTER);
    }

    @Override
    public void start() {
        if (session != null) return;
        String host = parameter("address", null);
        if (host == null || host.length() == 0) host = getCodeBase() == null ? "127.0.0.1" : getCodeBase().getHost();
        int port = DEFAULT_PORT;
        try {
            port = Integer.parseInt(parameter("port", String.valueOf(DEFAULT_PORT)).trim());
        } catch (NumberFormatException bad) {
            port = DEFAULT_PORT;
        }
        session = new ViewerSession(host, port, panel, ViewerPanel.PICTURE_WIDTH, ViewerPanel.PICTURE_HEIGHT,
                !"off".equals(parameter("sound", "on")));
        panel.attach(session);
        session.start();
    }

    @Override
    public void stop() {
        if (session != null) {
            session.stop();
            session = null;
        }
    }

    @Override
    public String getAppletInfo() {
        return "Quillon broadcast viewer";
    }

    private String parameter(String name, String fallback) {
        String v = getParameter(name);
        return v == null ? fallback : v;
    }

    /** java -jar client.jar --address A --port P [--skin prop1.skn] [--sound off] */
    public static void main(String[] args) {
        final Map<String, String> params = new HashMap<String, String>();
        params.put("address", "127.0.0.1");
        params.put("port", String.valueOf(DEFAULT_PORT));
        params.put("propertyfile", "prop1.skn");
        if (args.length % 2 != 0) {
            System.err.println("usage: java -jar client.jar --address A --port P [--skin FILE] [--sound off]");
            System.exit(2);
        }
        for (int i = 0; i + 1 < args.length; i += 2) {
            String key = args[i];
            if (key.equals("--address")) params.put("address", args[i + 1]);
            else if (key.equals("--port")) params.put("port", args[i + 1]);
            else if (key.equals("--skin")) params.put("propertyfile", args[i + 1]);
            else if (key.equals("--sound")) params.put("sound", args[i + 1]);
            else {
                System.err.println("usage: java -jar client.jar --address A --port P [--skin FILE] [--sound off]");
                System.exit(2);
            }
        }
        openWindow(params, true);
    }

    /**
     * Runs the viewer in a window of its own with the given page parameters
     * (lower-case names); closing the window stops it, and ends the program
     * when exitOnClose is set.
     */
    public static Frame openWindow(Map<String, String> params, final boolean exitOnClose) {
        final Quillon applet = new Quillon();
        applet.setStub(new StandaloneStub(applet, params));
        final Frame frame = new Frame(Skin.load(params.get("propertyfile")).text("text.title", "Quillon"));
        frame.setLayout(new BorderLayout());
        frame.add(applet, BorderLayout.CENTER);
        frame.addWindowListener(new WindowAdapter() {
            @Override
            public void windowClosing(WindowEvent e) {
                applet.stop();
                applet.destroy();
                frame.dispose();
                if (exitOnClose) System.exit(0);
            }
        });
        applet.init();
        frame.pack();
        frame.setSize(ViewerPanel.WIDTH + frame.getInsets().left + frame.getInsets().right,
                ViewerPanel.HEIGHT + frame.getInsets().top + frame.getInsets().bottom);
        frame.setVisible(true);
        applet.start();
        return frame;
    }
}
