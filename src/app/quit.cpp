// Ending the program from its main loop.
#include "app/quit.h"

#include <curses.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "machines/mlist.h"
#include "screen/screen.h"

void quit_program(int status)
{
    // Every machine goes first, while everything it refers to still exists: a held child is dropped
    // unstarted, a running one hung up.
    mlist_delete_all();
    tarvik_vt_hangup_all_children();
    screen_end();
    std::fflush(nullptr);
    std::exit(status);
}
