// Starts curses as quillor does, optionally lays out the screen with a given list width, then ends.
// On its way out, however it ends, it reports whether the terminal's modes are back as they were.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <curses.h>

#include "screen/layout.h"
#include "screen/screen.h"

namespace {

termios saved;

bool same_modes(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

void report_modes()
{
    termios now;
    tcgetattr(STDIN_FILENO, &now);
    printf("%s\n", same_modes(saved, now) ? "modes restored" : "modes changed");
    fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    tcgetattr(STDIN_FILENO, &saved);
    atexit(report_modes);
    screen_init();
    if (argc > 1) {
        LayoutSize size = layout_create(atoi(argv[1]), 80);
        endwin();
        printf("terminal %d x %d\n", size.rows, size.cols);
        return 0;
    }
    endwin();
    return 0;
}
