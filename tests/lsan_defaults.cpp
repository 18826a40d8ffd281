// Leak reports the tests should not fail on: curses keeps its terminal descriptions and its
// colour-pair index (a tsearch tree that delscreen does not free) for the life of the process.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libncursesw.so\nleak:libtinfo.so\nleak:tsearch\n";
}
