package quillon.ui;

import java.awt.Button;
import java.awt.CardLayout;
import java.awt.Color;
import java.awt.EventQueue;
import java.awt.Font;
import java.awt.Label;
import java.awt.Panel;
import java.awt.TextArea;
import java.awt.TextField;
import java.awt.event.ActionEvent;
import java.awt.event.ActionListener;
import java.util.concurrent.Future;

import quillon.ViewerSession;

/**
 * The viewer's window content, 402 x 465: the picture, the operator status,
 * the chat with its input line and Send button, the call buttons and the
 * registration form (shown in place of the chat while it is filled in).
 */
public final class ViewerPanel extends Panel implements ViewerSession.Listener {
    private static final long serialVersionUID = 1L;
    public static final int WIDTH = 402;
    public static final int HEIGHT = 465;
    public static final int PICTURE_WIDTH = 400;
    public static final int PICTURE_HEIGHT = 300;
    /** Characters accepted in the input line; the request cuts longer lines anyway. */
    private static final int MAX_INPUT = 300;
    /** The chat view keeps about this many characters; older lines go. */
    private static final int MAX_CHAT_CHARS = 20000;

    private final Skin skin;
    private final PictureCanvas picture;
    private final Label status = new Label();
    private final TextArea chat = new TextArea("", 4, 40, TextArea.SCROLLBARS_VERTICAL_ONLY);
    private final TextField input = new TextField();
    private final TextField[] form = new TextField[5];
    private final CardLayout cards = new CardLayout();
    private final Panel lower = new Panel(cards);
    private ViewerSession session;
    private boolean operatorOnline;
    private boolean mediaConnected;

    public ViewerPanel(Skin skin) {
        this.skin = skin;
        setLayout(null);
        setSize(WIDTH, HEIGHT);
        Color background = skin.color("background", new Color(0xD4D8E4));
        Color foreground = skin.color("foreground", Color.BLACK);
        setBackground(background);
        setForeground(foreground);
        Font font = skin.font("font", new Font("SansSerif", Font.PLAIN, 12));
        setFont(font);

        picture = new PictureCanvas(PICTURE_WIDTH, PICTURE_HEIGHT, skin.color("picture.background", Color.BLACK),
                skin.color("picture.caption", Color.LIGHT_GRAY), skin.text("text.connecting", "Connecting..."));
        picture.setLocation(1, 1);
        add(picture);

        status.setBounds(4, 303, WIDTH - 8, 18);
        status.setForeground(skin.color("status.foreground", foreground));
        add(status);

        lower.setBounds(1, 323, WIDTH - 2, HEIGHT - 324);
        lower.add(chatCard(), "chat");
        lower.add(registrationCard(), "register");
        add(lower);
        showStatus();
    }

    /** Connects the panel to a session; its events come back through the Listener methods. */
    public void attach(ViewerSession s) {
        session = s;
    }

    private Panel chatCard() {
        Panel p = new Panel(null);
        chat.setEditable(false);
        chat.setBackground(skin.color("chat.background", Color.WHITE));
        chat.setForeground(skin.color("chat.foreground", Color.BLACK));
        chat.setBounds(2, 0, WIDTH - 6, 84);
        p.add(chat);
        input.setBounds(2, 88, WIDTH - 90, 22);
        p.add(input);
        Button send = new Button(skin.text("text.send", "Send"));
        send.setBounds(WIDTH - 84, 88, 80, 22);
        p.add(send);
        ActionListener sendLine = new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                sendLine();
            }
        };
        send.addActionListener(sendLine);
        input.addActionListener(sendLine); // Enter sends as the button does

        Button register = new Button(skin.text("text.register", "Register"));
        register.setBounds(2, 114, 126, 22);
        register.addActionListener(new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                cards.show(lower, "register");
            }
        });
        p.add(register);
        Button callStart = new Button(skin.text("text.callStart", "Start call"));
        callStart.setBounds(136, 114, 126, 22);
        callStart.addActionListener(new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                request(session == null ? null : session.startCall(), skin.text("text.callStarted", "Call requested"));
            }
        });
        p.add(callStart);
        Button callStop = new Button(skin.text("text.callStop", "Stop call"));
        callStop.setBounds(270, 114, 126, 22);
        callStop.addActionListener(new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                request(session == null ? null : session.stopCall(), skin.text("text.callStopped", "Call ended"));
            }
        });
        p.add(callStop);
        return p;
    }

    private Panel registrationCard() {
        Panel p = new Panel(null);
        String[] keys = {"name", "company", "email", "phone", "interest"};
        String[] defaults = {"Name", "Company", "E-mail", "Phone", "Interest"};
        for (int i = 0; i < 5; i++) {
            Label l = new Label(skin.text("text." + keys[i], defaults[i]));
            l.setBounds(4, 2 + i * 22, 90, 20);
            p.add(l);
            form[i] = new TextField();
            form[i].setBounds(96, 2 + i * 22, WIDTH - 104, 20);
            p.add(form[i]);
        }
        Button ok = new Button(skin.text("text.registerSend", "Register"));
        ok.setBounds(96, 114, 120, 22);
        ok.addActionListener(new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                if (session != null) {
                    request(session.register(form[0].getText(), form[1].getText(), form[2].getText(),
                            form[3].getText(), form[4].getText()), skin.text("text.registered", "Registered"));
                }
                cards.show(lower, "chat");
            }
        });
        p.add(ok);
        Button cancel = new Button(skin.text("text.cancel", "Cancel"));
        cancel.setBounds(224, 114, 120, 22);
        cancel.addActionListener(new ActionListener() {
            @Override
            public void actionPerformed(ActionEvent e) {
                cards.show(lower, "chat");
            }
        });
        p.add(cancel);
        return p;
    }

    private void sendLine() {
        String text = input.getText();
        if (text.length() == 0 || session == null) return;
        if (text.length() > MAX_INPUT) text = text.substring(0, MAX_INPUT);
        input.setText("");
        // The server echoes the line back on the chat stream, so it is not added here.
        request(session.sendChat(text), null);
    }

    /** Reports a request's outcome in the status line once it is known, without blocking the UI. */
    private void request(final Future<Boolean> result, final String success) {
        if (result == null) return;
        Thread waiter = new Thread(new Runnable() {
            @Override
            public void run() {
                boolean ok;
                try {
                    ok = result.get();
                } catch (Exception e) {
                    ok = false;
                }
                final String text = ok ? success : skin.text("text.sendFailed", "Not delivered");
                if (text == null) return;
                EventQueue.invokeLater(new Runnable() {
                    @Override
                    public void run() {
                        status.setText(text);
                    }
                });
            }
        }, "quillon-request-result");
        waiter.setDaemon(true);
        waiter.start();
    }

    private void showStatus() {
        String operator = operatorOnline ? skin.text("text.online", "Operator online")
                : skin.text("text.offline", "Operator offline");
        String link = mediaConnected ? "" : " - " + skin.text("text.connecting", "Connecting...");
        status.setText(operator + link);
    }

    // ViewerSession.Listener: called on the session's threads.

    @Override
    public void onPicture(int[] argb, int width, int height) {
        picture.setPicture(argb, width, height);
    }

    @Override
    public void onChatLine(final String text) {
        EventQueue.invokeLater(new Runnable() {
            @Override
            public void run() {
                chat.append(text + "\n");
                String all = chat.getText();
                if (all.length() > MAX_CHAT_CHARS) {
                    int cut = all.indexOf('\n', all.length() - MAX_CHAT_CHARS);
                    chat.replaceRange("", 0, cut < 0 ? all.length() - MAX_CHAT_CHARS : cut + 1);
                }
            }
        });
    }

    @Override
    public void onOperatorStatus(final boolean online) {
        EventQueue.invokeLater(new Runnable() {
            @Override
            public void run() {
                operatorOnline = online;
                showStatus();
            }
        });
    }

    @Override
    public void onStreamState(final String stream, final boolean connected) {
        EventQueue.invokeLater(new Runnable() {
            @Override
            public void run() {
                if (stream.equals("audiovideo")) {
                    mediaConnected = connected;
                    if (!connected) picture.setCaption(skin.text("text.connecting", "Connecting..."));
                }
                showStatus();
            }
        });
    }
}
