// The program's parts, each registered with the wait for what it needs: descriptors, deadlines, the
// screen. The wait itself knows none of them.
#include "app/serve.h"

#include <signal.h>

#include "app/fatal.h"
#include "app/suspend.h"
#include "base/clock.h"
#include "event/children.h"
#include "event/wait.h"
#include "machines/compare.h"
#include "machines/mlist.h"
#include "screen/layout.h"
#include "screen/redraw.h"
#include "screen/screen.h"
#include "term/tarvik.h"

namespace {

// Each start of a held child waits for the kernel to load ssh: starting a batch in slices of this long,
// one per turn, keeps the screen and the keys served while hundreds of machines start.
constexpr int kReleaseSliceMs = 20;

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

// The user's window changed size: the panels follow it, and every machine takes the terminal panel's
// new size. A screen too small for the panels keeps the machines at their last size until it grows.
void follow_screen_size()
{
    LayoutSize size;
    if (layout_resize(&size)) mlist_resize(size.rows, size.cols);
}

void terminal_lost()
{
    fatal_exit(SIGHUP);
}

void paint_panels()
{
    redraw_panels(false);
}

void machine_exited(pid_t pid, int status, void *)
{
    mlist_child_exited(pid, status);
}

void watch_machines(std::vector<pollfd> &fds, void *)
{
    mlist_watch(fds);
}

void machines_ready(const pollfd *fds, size_t count, void *)
{
    tarvik_set_interrupt_fd(wait_keys_fd());
    mlist_ready(fds, count);
}

// Queued logins start only once the list shows their machines, after a repaint, as many as the pacing
// lets go. They learn their pids before any of their exits can be reaped.
int logins_due(void *)
{
    return mlist_start_due_ms();
}

void start_logins(void *)
{
    mlist_start_logins(kReleaseSliceMs);
}

// A login's quiet or time-out passes with nothing printed; a start is shown in the counts at once.
int login_changes_due(void *)
{
    return mlist_logins_due_ms();
}

void follow_logins(void *)
{
    mlist_follow_logins();
}

// A machine that ended is closed, with its note, when its last output is surely in.
int forsaken_due(void *)
{
    return tarvik_vt_linger_ms();
}

void close_forsaken(void *)
{
    tarvik_vt_finish_lingering();
}

int answers_due(void *)
{
    return compare_due_ms();
}

void read_answers(void *)
{
    compare_refresh();
}

// The repaint after this sends every cell again, dialogs included.
int continued_due(void *)
{
    return suspend_resumed() ? 0 : -1;
}

void take_terminal_again(void *)
{
    if (suspend_take_resumed()) screen_resume();
}

} // namespace

void serve_init()
{
    children_on_other_exit(machine_exited, nullptr);
    wait_add_source({watch_machines, machines_ready, nullptr});
    wait_add_task({continued_due, take_terminal_again, nullptr, false});
    wait_add_task({forsaken_due, close_forsaken, nullptr, false});
    wait_add_task({answers_due, read_answers, nullptr, false});
    wait_add_task({login_changes_due, follow_logins, nullptr, false});
    wait_add_task({logins_due, start_logins, nullptr, true});
    WaitScreen screen;
    screen.paint = paint_panels;
    screen.update = redraw_update;
    screen.fits = layout_fits;
    screen.resized = follow_screen_size;
    screen.lost = terminal_lost;
    wait_set_screen(screen);
    wait_set_keyboard_gate(keyboard_ready);
    wait_init();
}
