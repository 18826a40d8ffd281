// Moving bytes between a screen and its pseudo-terminal: the child's output in, keys and replies out.
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "base/clock.h"
#include "term/vt_internal.h"

namespace {

// Smaller reads than this come from interactive output rather than a flood.
constexpr ssize_t kSmallRead = 512;

// Replies beyond this, unread by the child, are dropped: a remote printing queries in a loop
// without reading the answers must not grow the program without limit.
constexpr size_t kReplyMax = 16 * 1024;

// How long a forsaken screen goes on taking in output that another holder of its terminal (a helper a
// ProxyCommand left behind, a background job) may still write, or that is still on its way through the
// kernel when the child ends: ssh's "Connection refused" or a shell's "logout" must not be lost.
constexpr int kLingerMs = 200;
// What one forsake reads at once before leaving the rest to the updates.
constexpr int kForsakeReadMs = 5;

// The forsaken screens whose terminal is still open, waiting for its end or their time.
std::vector<TarvikVt *> g_lingering;

void queue_append(PtyQueue &q, const char *bytes, size_t len)
{
    // A drained queue starts over at the front; a large one gives its memory back.
    if (q.head == q.bytes.size()) {
        q.head = 0;
        q.bytes.clear();
        if (q.bytes.capacity() > 64 * 1024) std::string().swap(q.bytes);
    }
    q.bytes.append(bytes, len);
    q.queued += len;
}

// The first n pending bytes reached the terminal.
void queue_consume(PtyQueue &q, size_t n)
{
    q.head += n;
    q.written += n;
    while (!q.replies.empty()) {
        auto &[begin, end] = q.replies.front();
        uint64_t done = std::min(end, q.written);
        if (done > begin) {
            q.reply_bytes -= static_cast<size_t>(done - begin);
            begin = done;
        }
        if (begin < end) break;
        q.replies.pop_front();
    }
    // Moving the rest down now and then keeps the front from growing while a paste drains.
    if (q.head >= 64 * 1024 && q.head * 2 >= q.bytes.size()) {
        q.bytes.erase(0, q.head);
        q.head = 0;
    }
}

void queue_clear(PtyQueue &q)
{
    q = PtyQueue{};
}

} // namespace

void pty_send(TarvikVt *vt, const char *bytes, size_t len)
{
    if (!vt->master.valid() || vt->forsaken || len == 0) return;
    queue_append(vt->out_queue, bytes, len);
    pty_flush(vt);
}

void pty_reply(TarvikVt *vt, const char *bytes, size_t len)
{
    PtyQueue &q = vt->out_queue;
    if (!vt->master.valid() || vt->forsaken || len == 0 || q.reply_bytes + len > kReplyMax) return;
    uint64_t begin = q.queued;
    queue_append(q, bytes, len);
    if (!q.replies.empty() && q.replies.back().second == begin)
        q.replies.back().second = q.queued;
    else
        q.replies.emplace_back(begin, q.queued);
    q.reply_bytes += len;
    pty_flush(vt);
}

size_t pty_input_queued(const TarvikVt *vt)
{
    return vt->out_queue.pending() - vt->out_queue.reply_bytes;
}

void pty_flush(TarvikVt *vt)
{
    PtyQueue &q = vt->out_queue;
    while (vt->master.valid() && q.pending() > 0) {
        ssize_t n = ::write(vt->master.get(), q.bytes.data() + q.head, q.pending());
        if (n > 0) {
            queue_consume(q, static_cast<size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EAGAIN: the child is not reading; the rest waits for the next update. Any other error
            // means the terminal is gone and the bytes have nowhere to go.
            if (n < 0 && errno != EAGAIN) queue_clear(q);
            return;
        }
    }
}

ssize_t pty_read(TarvikVt *vt)
{
    static std::array<char, 65536> buf;
    while (vt->master.valid()) {
        ssize_t n = ::read(vt->master.get(), buf.data(), buf.size());
        if (n > 0) {
            vt_write(vt, buf.data(), static_cast<size_t>(n));
            // A flood arrives in reads of a few kilobytes; an echo or a prompt in a few bytes.
            vt->flooding = n >= kSmallRead;
            return n;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            vt->flooding = false;
            return 0;
        }
        // End of file, or EIO once every holder of the terminal's other side has closed it.
        vt_write_end(vt);
        hangup_list_remove(vt->pid);
        vt->master.reset();
        queue_clear(vt->out_queue);
        if (vt->forsaken) pty_finish_forsaken(vt);
    }
    return -1;
}

void pty_pump(TarvikVt *vt, int max_ms, int wait_ms)
{
    long start = clock_now_ms();
    for (;;) {
        ssize_t n = pty_read(vt);
        if (n < 0) return;
        if (n > 0) {
            if (clock_now_ms() - start >= max_ms) return;
            // A few bytes were all there was: asking again would only be told so, a system call per
            // terminal with output every turn; what comes later wakes the main loop.
            if (!vt->flooding && wait_ms <= 0) return;
            continue;
        }
        long left = wait_ms - (clock_now_ms() - start);
        if (left <= 0) return;
        pollfd pfd{vt->master.get(), POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0) return;
    }
}

void pty_close(TarvikVt *vt)
{
    std::erase(g_lingering, vt);
    // A held child never starts.
    spawn_forget_held(vt);
    // Closing the master hangs up the terminal's session; the signal also reaches a child that has
    // left that session. A child not yet forsaken has not been reaped, so its pid is still its own.
    if (!vt->forsaken && vt->pid > 0) kill(vt->pid, SIGHUP);
    hangup_list_remove(vt->pid);
    vt->master.reset();
    queue_clear(vt->out_queue);
}

int pty_set_size(int master, int rows, int cols)
{
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(std::min(rows, 0xFFFF));
    ws.ws_col = static_cast<unsigned short>(std::min(cols, 0xFFFF));
    return ioctl(master, TIOCSWINSZ, &ws);
}

void pty_finish_forsaken(TarvikVt *vt)
{
    pty_close(vt);
    if (vt->exit_note.empty()) return;
    std::string note = std::move(vt->exit_note);
    vt->exit_note.clear();
    tarvik_vt_write_note(vt, note.c_str());
}

void pty_finish_lingering()
{
    if (g_lingering.empty()) return;
    long now = clock_now_ms();
    for (size_t i = g_lingering.size(); i-- > 0;) {
        TarvikVt *vt = g_lingering[i];
        if (now < vt->linger_until) continue;
        // What it had written by now goes in before the note.
        pty_pump(vt, kForsakeReadMs, 0);
        if (vt->master.valid()) pty_finish_forsaken(vt);
    }
}

void tarvik_vt_forsake_child(TarvikVt *vt, const char *note)
{
    if (!vt || vt->forsaken) return;
    vt->forsaken = true;
    vt->exit_note = note ? note : "";
    // The child is reaped: its pid may be another process's from now on, which no hang-up may reach.
    hangup_list_remove(vt->pid);
    queue_clear(vt->out_queue);
    // A held child never started: nothing of it can come.
    if (!vt->master.valid() || vt->pid <= 0) {
        pty_finish_forsaken(vt);
        return;
    }
    // What is there now is taken in at once; what is still on its way comes through the updates, so
    // that many machines ending together never hold up the program.
    pty_pump(vt, kForsakeReadMs, 0);
    if (!vt->master.valid()) return; // at its end: finished by the read
    vt->linger_until = clock_now_ms() + kLingerMs;
    g_lingering.push_back(vt);
}

void tarvik_vt_close(TarvikVt *vt)
{
    if (vt && vt->forsaken && vt->master.valid()) pty_finish_forsaken(vt);
}

int tarvik_vt_linger_ms()
{
    if (g_lingering.empty()) return -1;
    long first = g_lingering.front()->linger_until;
    for (const TarvikVt *vt : g_lingering) first = std::min(first, vt->linger_until);
    return static_cast<int>(std::max(0L, first - clock_now_ms()));
}
