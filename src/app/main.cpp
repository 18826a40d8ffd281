// quillor: ssh into many machines at once, type into one or into all tagged ones.
#include <signal.h>

#include "base/clock.h"
#include "app/add.h"
#include "app/children.h"
#include "app/fatal.h"
#include "app/loop.h"
#include "app/options.h"
#include "app/suspend.h"
#include "dialogs/menu.h"
#include "dialogs/wait.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/redraw.h"
#include "screen/screen.h"
#include "term/tarvik.h"

namespace {

// What the program does whenever the wait wakes for something other than a key.
void serve_machines()
{
    // The repaint after this work sends every cell again, dialogs included.
    if (suspend_take_resumed()) screen_resume();
    children_reap();
    mlist_update();
}

void terminal_lost()
{
    fatal_exit(SIGHUP);
}

// The user's window changed size: the panels follow it, and every machine takes the terminal panel's
// new size. A screen too small for the panels keeps the machines at their last size until it grows.
void follow_screen_size()
{
    LayoutSize size;
    if (layout_resize(&size)) mlist_resize(size.rows, size.cols);
}

// A machine whose input queue is full holds the keyboard back rather than lose keys or grow without
// bound; the keys wait in the user's terminal meanwhile. Held for a second at most at a time, so that a
// machine that never reads cannot keep the user from F1 or F3 for good.
constexpr long kKeyboardHoldMs = 1000;

bool keyboard_ready()
{
    static long full_since = -1;
    if (mlist_input_room() > 0) {
        full_since = -1;
        return true;
    }
    long now = clock_now_ms();
    if (full_since < 0) full_since = now;
    if (now - full_since < kKeyboardHoldMs) return false;
    full_since = now;
    return true;
}

} // namespace

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
    menu_init(layout_minibuf_window());
    mlist_init(layout_list_window(), size.rows, size.cols);
    mlist_set_history_lines(options.history_lines);
    WaitHooks hooks;
    hooks.work = serve_machines;
    hooks.terminal_lost = terminal_lost;
    hooks.resized = follow_screen_size;
    hooks.keyboard_ready = keyboard_ready;
    wait_init(hooks);
    if (!options.names.empty()) {
        // The frame stays in view while a command lists machines or an error waits for its key.
        redraw(true);
        // Their logins start once the main loop has drawn the list, a slice per turn.
        tarvik_vt_hold_children();
        for (const std::string &name : options.names) add_text(layout_minibuf_window(), name);
    }
    main_loop();
}
