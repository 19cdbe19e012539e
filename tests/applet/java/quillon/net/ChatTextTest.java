package quillon.net;

import static org.junit.Assert.assertEquals;

import org.junit.Test;

public class ChatTextTest {
    @Test
    public void utf8WhereValidElseWindows1251() throws Exception {
        Object[][] cases = {
            {"guest: hello\n".getBytes("UTF-8"), "guest: hello"},
            {"Сервер: привет\n".getBytes("UTF-8"), "Сервер: привет"},
            {"Сервер: привет\n".getBytes("windows-1251"), "Сервер: привет"},
            {"no line feed".getBytes("UTF-8"), "no line feed"},
            {new byte[] {'\n'}, ""},
            {new byte[0], ""},
            {"~offline".getBytes("UTF-8"), "~offline"},
        };
        for (Object[] c : cases) assertEquals(c[1], ChatText.decode((byte[]) c[0]));
    }
}
