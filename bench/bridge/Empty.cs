// The yardstick for start-up: the mono launcher running a program that does nothing.
public static class Empty
{
    public static void Main() { }
}
