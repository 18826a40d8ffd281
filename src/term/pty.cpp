// Moving bytes between a screen and its pseudo-terminal: the child's output in, keys and replies out.
#include <errno.h>
#include <poll.h>
#include <signal.h>

#include <array>
#include <string>

#include "term/vt_internal.h"

namespace {

// Smaller reads than this come from interactive output rather than a flood.
constexpr ssize_t kSmallRead = 512;

} // namespace

void pty_send(TarvikVt *vt, const char *bytes, size_t len)
{
    if (!vt->master.valid() || len == 0) return;
    vt->out_queue.append(bytes, len);
    pty_flush(vt);
}

void pty_flush(TarvikVt *vt)
{
    while (vt->master.valid() && !vt->out_queue.empty()) {
        ssize_t n = ::write(vt->master.get(), vt->out_queue.data(), vt->out_queue.size());
        if (n > 0) {
            vt->out_queue.erase(0, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EAGAIN: the child is not reading; the rest waits for the next update. Any other error
            // means the terminal is gone and the bytes have nowhere to go.
            if (n < 0 && errno != EAGAIN) vt->out_queue.clear();
            return;
        }
    }
}

void pty_pump(TarvikVt *vt, int max_ms, int wait_ms)
{
    static std::array<char, 65536> buf;
    long start = vt_now_ms();
    while (vt->master.valid()) {
        ssize_t n = ::read(vt->master.get(), buf.data(), buf.size());
        if (n > 0) {
            vt_write(vt, buf.data(), static_cast<size_t>(n));
            if (vt_now_ms() - start >= max_ms) return;
            // A few bytes (an echo, a prompt) were all there was: asking again would only be told so,
            // a system call per terminal with output every turn; what comes later wakes the main loop.
            // A flood arrives in reads of a few kilobytes, and those go on until the time is up.
            if (n < kSmallRead && wait_ms <= 0) return;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            long left = wait_ms - (vt_now_ms() - start);
            if (left <= 0) return;
            pollfd pfd{vt->master.get(), POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left)) <= 0) return;
            continue;
        }
        // End of file, or EIO once every holder of the terminal's other side has closed it.
        vt_write_end(vt);
        hangup_list_remove(vt->pid);
        vt->master.reset();
        vt->out_queue.clear();
        return;
    }
}

void pty_close(TarvikVt *vt)
{
    // A held child never starts.
    spawn_forget_held(vt);
    // Closing the master hangs up the terminal's session; the signal also reaches a child that has
    // left that session. A child not yet forsaken has not been reaped, so its pid is still its own.
    if (!vt->forsaken && vt->pid > 0) kill(vt->pid, SIGHUP);
    hangup_list_remove(vt->pid);
    vt->master.reset();
    vt->out_queue.clear();
}

void tarvik_vt_forsake_child(TarvikVt *vt)
{
    if (!vt) return;
    if (!vt->forsaken && vt->master.valid()) {
        // The child has exited, but what it wrote last may still be on its way through the terminal;
        // ssh's "Connection refused" or a shell's "logout" must not be lost. Wait briefly for the end.
        pty_pump(vt, 200, 100);
    }
    vt->forsaken = true;
    pty_close(vt);
}
