// The main loop and its key dispatch.
#include "app/loop.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/add.h"
#include "app/children.h"
#include "app/fatal.h"
#include "dialogs/menu.h"
#include "dialogs/minibuf.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/redraw.h"

namespace {

constexpr int kKeyTimeoutMs = 200;
// Each start of a held child waits for the kernel to load ssh: starting a batch in slices of this long,
// one per turn, keeps the screen and the keys served while hundreds of machines start.
constexpr int kReleaseSliceMs = 20;

bool confirmed(const std::string &answer) { return !answer.empty() && (answer[0] & ~0x20) == 'Y'; }

// Waits for a key, or for output from a live machine, for at most timeout_ms. Returns the key, or ERR
// when the wait ended without one.
int wait_for_key(int timeout_ms)
{
    // Keys curses already read into its own buffer never wake poll(): take them first.
    wtimeout(stdscr, 0);
    int key = wgetch(stdscr);
    wtimeout(stdscr, kKeyTimeoutMs);
    if (key != ERR) return key;

    static std::vector<pollfd> fds;
    fds.clear();
    fds.push_back({STDIN_FILENO, POLLIN, 0});
    for (int i = 0; i < mlist_count(); ++i) {
        int fd = tarvik_vt_fd(mlist_machine(i)->term.get());
        if (fd >= 0) fds.push_back({fd, POLLIN, 0});
    }
    int n = poll(fds.data(), fds.size(), timeout_ms);
    if (n <= 0 || fds[0].revents == 0) return ERR;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) fatal_exit(SIGHUP); // the terminal is gone
    wtimeout(stdscr, 0);
    key = wgetch(stdscr);
    wtimeout(stdscr, kKeyTimeoutMs);
    return key;
}

} // namespace

void main_dispatch(int key)
{
    WINDOW *mb = layout_minibuf_window();
    switch (key) {
    case KEY_F(1):
        menu_show();
        redraw(true);
        break;
    case KEY_F(2): mlist_select_prev(); break;
    case KEY_F(3): mlist_select_next(); break;
    case KEY_F(4): mlist_toggle_tag(); break;
    case KEY_F(5):
        // A file can name hundreds of machines: their logins start once the list has been drawn.
        tarvik_vt_hold_children();
        add_machines(mb);
        break;
    case KEY_F(6): {
        std::string answer;
        if (minibuf_prompt(mb, "Really delete it [y/n]?", kAttrQuestion, answer, 2) && confirmed(answer))
            mlist_delete_selected();
        break;
    }
    case KEY_F(7): mlist_toggle_multicast(); break;
    default: mlist_send_key(key); break;
    }
}

void main_loop_turn()
{
    children_reap();
    mlist_update();
    redraw(false);
    // Held machines learn their pids only now, and must before any of their exits is reaped.
    if (tarvik_vt_release_children(kReleaseSliceMs) > 0) mlist_children_started();
    int key = wait_for_key(tarvik_vt_held_children() > 0 ? 0 : kKeyTimeoutMs);
    if (key != ERR) main_dispatch(key);
}

void main_loop()
{
    for (;;) main_loop_turn();
}
