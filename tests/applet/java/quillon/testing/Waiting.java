package quillon.testing;

/** Waits for something another thread brings about, with a generous deadline (not a speed check). */
public final class Waiting {
    public interface Condition {
        boolean holds();
    }

    private Waiting() {}

    public static boolean until(Condition condition, long timeoutMs) throws InterruptedException {
        long end = System.currentTimeMillis() + timeoutMs;
        while (System.currentTimeMillis() < end) {
            if (condition.holds()) return true;
            Thread.sleep(20);
        }
        return condition.holds();
    }
}
