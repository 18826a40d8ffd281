// quillor: ssh into many machines at once, type into one or into all tagged ones.
#include <signal.h>

#include "app/add.h"
#include "app/fatal.h"
#include "app/loop.h"
#include "app/options.h"
#include "app/serve.h"
#include "app/suspend.h"
#include "dialogs/menu.h"
#include "event/children.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/redraw.h"
#include "screen/screen.h"
#include "screen/wall.h"
#include "term/tarvik.h"

int main(int argc, char **argv)
{
    Options options = options_parse(argc, argv);
    // A mistyped file name is the user's to fix before anything has started or the screen is taken.
    options_check_files(options);
    children_install_handler();
    fatal_save_terminal();
    // The splash waits for a key with the terminal already raw, before the handlers that can restore it
    // exist (they need curses' own strings): a SIGTERM, SIGHUP or any other such signal then waits for
    // them instead of leaving the user's terminal raw.
    sigset_t fatal_signals, old_mask;
    fatal_asynchronous_signals(&fatal_signals);
    sigprocmask(SIG_BLOCK, &fatal_signals, &old_mask);
    // Names on the command line ask for machines, not for a title card.
    screen_init(options.names.empty());
    fatal_install_handlers();
    suspend_install_handlers();
    sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    LayoutSize size = layout_create(options.list_width, options.term_width);
    // Without room for a tile the program starts without the wall, which F1 w turns on later.
    if (options.wall) wall_set_on(true);
    menu_init(layout_minibuf_window());
    mlist_init(layout_list_window(), size.rows, size.cols);
    mlist_set_history_lines(options.history_lines);
    mlist_set_pacing(options.pacing);
    serve_init();
    if (!options.names.empty()) {
        // The frame stays in view while a command lists machines or an error waits for its key.
        redraw(true);
        // Their logins start once the main loop has drawn the list, a slice per turn.
        tarvik_vt_hold_children();
        for (const std::string &name : options.names) add_text(layout_minibuf_window(), name);
    }
    main_loop();
}
