// quillor: ssh into many machines at once, type into one or into all tagged ones.
#include <signal.h>

#include "app/children.h"
#include "app/fatal.h"
#include "app/loop.h"
#include "app/options.h"
#include "dialogs/menu.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/screen.h"

int main(int argc, char **argv)
{
    Options options = options_parse(argc, argv);
    children_install_handler();
    fatal_save_terminal();
    // The splash waits for a key with the terminal already raw, before the handlers that can restore it
    // exist (they need curses' own strings): a SIGTERM or SIGHUP then waits for them instead of leaving
    // the user's terminal raw.
    sigset_t fatal_signals, old_mask;
    sigemptyset(&fatal_signals);
    sigaddset(&fatal_signals, SIGTERM);
    sigaddset(&fatal_signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &fatal_signals, &old_mask);
    screen_init();
    fatal_install_handlers();
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    LayoutSize size = layout_create(options.list_width, options.term_width);
    menu_init(layout_minibuf_window());
    mlist_init(layout_list_window(), size.rows, size.cols);
    main_loop();
}
