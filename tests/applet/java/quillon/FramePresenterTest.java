package quillon;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertTrue;

import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

import org.junit.Test;

import quillon.testing.Waiting;

/** Pictures wait for the sound to reach their stamps; without sound they show at once. */
public class FramePresenterTest {
    static final class Clock implements FramePresenter.Clock {
        volatile long now = -1;

        @Override
        public long playingStamp() {
            return now;
        }
    }

    static final class Shown implements FramePresenter.Display {
        final List<Integer> ids = Collections.synchronizedList(new ArrayList<Integer>());

        @Override
        public void show(int[] argb, int width, int height) {
            ids.add(argb[0]);
        }
    }

    static int[] picture(int id) {
        return new int[] {id};
    }

    @Test
    public void picturesWaitForTheSoundToReachTheirStamps() throws Exception {
        Clock clock = new Clock();
        clock.now = 10000;
        final Shown shown = new Shown();
        FramePresenter presenter = new FramePresenter(clock, shown);
        presenter.start();
        try {
            presenter.onFrame(picture(1), 1, 1, 9990);  // already due
            presenter.onFrame(picture(2), 1, 1, 10500); // due in half a second of sound
            assertTrue(Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return shown.ids.size() == 1;
                }
            }, 5000));
            Thread.sleep(300);
            assertEquals("the second picture waits while the sound stands still", 1, shown.ids.size());
            clock.now = 10500;
            assertTrue(Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return shown.ids.size() == 2;
                }
            }, 5000));
            // A stamp far ahead of the sound (clocks that do not belong together) is not waited for.
            presenter.onFrame(picture(3), 1, 1, 10500 + FramePresenter.MAX_WAIT_MS + 1000);
            assertTrue(Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return shown.ids.size() == 3;
                }
            }, 5000));
        } finally {
            presenter.stop();
        }
        assertEquals(java.util.Arrays.asList(1, 2, 3), shown.ids);
    }

    @Test
    public void withoutSoundPicturesShowAsTheyCome() throws Exception {
        final Shown shown = new Shown();
        FramePresenter presenter = new FramePresenter(new Clock(), shown);
        presenter.start();
        try {
            for (int i = 0; i < 5; i++) presenter.onFrame(picture(i), 1, 1, 50000 + i * 125);
            assertTrue(Waiting.until(new Waiting.Condition() {
                public boolean holds() {
                    return shown.ids.size() == 5;
                }
            }, 5000));
        } finally {
            presenter.stop();
        }
        assertEquals(java.util.Arrays.asList(0, 1, 2, 3, 4), shown.ids);
    }
}
