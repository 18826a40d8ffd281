// The emulated screen: a libvterm terminal per handle, and the readable state served from it.
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/clock.h"
#include "term/vt_internal.h"

namespace {

// Taking in output must not hold a turn of the main loop for longer than this, whatever the number of
// machines that flood it: keys wait while it runs.
constexpr int kUpdateMaxMs = 20;

// Replies to queries and the sequences of keys reach the child through here. Without this callback
// libvterm keeps them in a 64-byte buffer and drops what does not fit.
void on_output(const char *s, size_t len, void *user)
{
    auto *vt = static_cast<TarvikVt *>(user);
    if (vt->answer_to)
        vt->answer_to->append(s, len);
    else if (vt->keying)
        pty_send(vt, s, len);
    else
        pty_reply(vt, s, len);
}

} // namespace

TarvikVt *tarvik_vt_create(int rows, int cols)
{
    auto vt = std::make_unique<TarvikVt>();
    vt->rows = std::max(1, rows);
    // libvterm writes through a null pointer when a wide character arrives on a one-column screen.
    vt->cols = std::max(2, cols);
    vt->vt.reset(vterm_new(vt->rows, vt->cols));
    VTerm *v = vt->vt.get();
    // libvterm starts in a single-byte mode; machines write UTF-8.
    vterm_set_utf8(v, 1);
    vterm_output_set_callback(v, on_output, vt.get());
    vt->state = vterm_obtain_state(v);
    vt_cells_init(vt.get());
    vterm_state_reset(vt->state, 1);
    vt_write_own(vt.get(), kSaveDefaults);
    static unsigned long serials = 0;
    vt->serial = ++serials;
    vt_damage(vt.get(), 0, vt->rows);
    return vt.release();
}

void tarvik_vt_destroy(TarvikVt *vt)
{
    if (!vt) return;
    pty_close(vt);
    delete vt;
}

void vt_show_message(TarvikVt *vt, const std::string &text)
{
    std::string line = "\r\n" + text + "\r\n";
    vt_write(vt, line.data(), line.size());
}

void tarvik_vt_write_note(TarvikVt *vt, const char *text)
{
    if (!vt || !text) return;
    // A line of its own, but no empty one in between: a child's last line may end with the cursor
    // back at its start, and that line must stay.
    int row = tarvik_vt_cursor_row(vt);
    bool row_blank = true;
    for (int col = 0; col < vt->cols && row_blank; ++col) row_blank = tarvik_vt_cell(vt, row, col).ch == 32;
    std::string line = row_blank ? "\r" : "\r\n";
    // Default colours, no insert mode, and G0 as ASCII selected: a child that died inside a full-screen
    // program or with line drawing on would otherwise leave the note invisible or garbled.
    line += "\033[m\033[4l\033(B\017";
    line += text;
    vt_write(vt, line.data(), line.size());
}

void tarvik_vt_resize(TarvikVt *vt, int rows, int cols)
{
    if (!vt) return;
    rows = std::max(1, rows);
    cols = std::max(2, cols);
    if (rows == vt->rows && cols == vt->cols) return;
    // libvterm calls back into the cells (cells.cpp), which take the new size there.
    vterm_set_size(vt->vt.get(), rows, cols);
    // libvterm keeps a scrolling region that no longer fits, and then moves a negative number of its
    // line records. A new size ends the region, as in a terminal window, and the cursor stays put.
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    vt_write_own(vt, "\x1b[r\x1b[" + std::to_string(pos.row + 1) + ";" + std::to_string(pos.col + 1) + "H");
    if (vt->master.valid()) pty_set_size(vt->master.get(), rows, cols);
}

void tarvik_vt_update(TarvikVt *vt)
{
    pty_finish_lingering();
    if (!vt || !vt->master.valid()) return;
    pty_flush(vt);
    pty_pump(vt, kUpdateMaxMs, 0);
}

short tarvik_vt_poll_events(const TarvikVt *vt)
{
    if (!vt || !vt->master.valid()) return 0;
    // Input waiting for the child wakes the poll once the child can take it.
    return vt->out_queue.pending() > 0 ? POLLIN | POLLOUT : POLLIN;
}

void tarvik_vt_update_all(TarvikVt *const *vts, size_t count)
{
    static std::vector<pollfd> fds;
    static std::vector<TarvikVt *> polled;
    static std::vector<short> revents;
    fds.clear();
    polled.clear();
    for (size_t i = 0; i < count; ++i) {
        if (!vts[i] || !vts[i]->master.valid()) continue;
        fds.push_back({vts[i]->master.get(), tarvik_vt_poll_events(vts[i]), 0});
        polled.push_back(vts[i]);
    }
    // Most terminals have nothing most of the time; a read on each would be a system call apiece.
    bool known = poll(fds.data(), fds.size(), 0) >= 0;
    revents.clear();
    for (const pollfd &p : fds) revents.push_back(known ? p.revents : POLLIN);
    tarvik_vt_update_ready(polled.data(), revents.data(), polled.size());
}

void tarvik_vt_finish_lingering()
{
    pty_finish_lingering();
}

namespace {

int g_interrupt_fd = -1;

// The flooding screen from readers[from] on that is to go first next time; 0 when none.
unsigned long first_flood(const std::vector<TarvikVt *> &readers, size_t from)
{
    for (size_t j = from; j < readers.size(); ++j)
        if (readers[j]->flooding) return readers[j]->serial;
    return 0;
}

} // namespace

void tarvik_set_interrupt_fd(int fd)
{
    g_interrupt_fd = fd;
}

void tarvik_vt_update_ready(TarvikVt *const *vts, const short *revents, size_t count)
{
    // Kept between calls: the wait runs this every turn and should not allocate.
    static std::vector<pollfd> quiet;
    static std::vector<TarvikVt *> owners, all, readers, quiet_owners;
    // The flooding screen that was next in line when the time ran out: it goes first next time.
    static unsigned long resume_serial = 0;
    pty_finish_lingering();
    long start = clock_now_ms();
    owners.clear();
    all.clear();
    for (size_t i = 0; i < count; ++i) {
        TarvikVt *vt = vts[i];
        if (!vt || !vt->master.valid()) continue;
        all.push_back(vt);
        // Those with output to read stay in `owners`; the rest are struck out, after taking the input
        // waiting for them if their terminal can take it now.
        if (revents[i] == 0) {
            owners.push_back(nullptr);
            continue;
        }
        pty_flush(vt);
        bool readable = (revents[i] & ~POLLOUT) != 0;
        owners.push_back(vt->master.valid() && readable ? vt : nullptr);
    }
    // Screens that only echo or prompt go first, so that keys are answered whatever floods beside
    // them; the floods follow, from where the last call had to stop, so that each one advances.
    readers.clear();
    for (TarvikVt *vt : owners)
        if (vt && !vt->flooding) readers.push_back(vt);
    size_t floods = readers.size(), resume_at = floods;
    for (TarvikVt *vt : owners) {
        if (!vt || !vt->flooding) continue;
        if (vt->serial == resume_serial) resume_at = readers.size();
        readers.push_back(vt);
    }
    std::rotate(readers.begin() + static_cast<long>(floods), readers.begin() + static_cast<long>(resume_at),
                readers.end());
    // The quiet screens are looked at again between rounds: an echo that arrives while the floods are
    // read is then drawn at once rather than after the floods' time. So is the keyboard (the last
    // entry): a key typed meanwhile is taken after a round rather than after the whole time.
    quiet.clear();
    quiet_owners.clear();
    for (TarvikVt *vt : all) {
        if (vt->flooding || !vt->master.valid()) continue;
        quiet.push_back({vt->master.get(), POLLIN, 0});
        quiet_owners.push_back(vt);
    }
    quiet.push_back({g_interrupt_fd, POLLIN, 0});
    quiet_owners.push_back(nullptr);
    // With no quiet screen and no keyboard to look at, nothing is asked between rounds.
    const bool look_between = quiet.size() > 1 || g_interrupt_fd >= 0;
    // One read each in turn until every screen has taken in all it had, or the time of the call is up:
    // many floods share that time rather than each taking as much as one would alone.
    resume_serial = 0;
    for (bool first = true; !readers.empty(); first = false) {
        // Every flood has had a read once the first round is done: it is then soon enough to stop.
        bool stop = false;
        if (!first && look_between && poll(quiet.data(), quiet.size(), 0) > 0) {
            for (size_t i = 0; i < quiet.size(); ++i) {
                TarvikVt *vt = quiet_owners[i];
                if (quiet[i].revents == 0) continue;
                if (!vt) {
                    stop = true; // a key
                    continue;
                }
                // One that began to flood in the first round is among the readers already.
                if (vt->flooding || !vt->master.valid()) continue;
                if (pty_read(vt) > 0 && !vt->flooding) stop = true;
                // One that starts to flood takes its turns with the others from now on.
                if (vt->flooding) readers.push_back(vt);
                if (vt->flooding || !vt->master.valid()) quiet[i].fd = -1;
            }
        }
        if (stop) {
            resume_serial = first_flood(readers, 0);
            return;
        }
        size_t kept = 0;
        for (size_t i = 0; i < readers.size(); ++i) {
            TarvikVt *vt = readers[i];
            if (clock_now_ms() - start >= kUpdateMaxMs) {
                resume_serial = first_flood(readers, i);
                return;
            }
            if (pty_read(vt) > 0 && vt->flooding) readers[kept++] = vt;
        }
        readers.resize(kept);
    }
}

unsigned long tarvik_vt_version(const TarvikVt *vt)
{
    return vt ? vt->version : 0;
}

int tarvik_vt_rows(const TarvikVt *vt)
{
    return vt ? vt->rows : 0;
}
int tarvik_vt_cols(const TarvikVt *vt)
{
    return vt ? vt->cols : 0;
}

int tarvik_vt_cursor_row(const TarvikVt *vt)
{
    if (!vt) return 0;
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    return std::clamp(pos.row, 0, vt->rows - 1);
}

int tarvik_vt_cursor_col(const TarvikVt *vt)
{
    if (!vt) return 0;
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    // After writing the last column the cursor waits at the right margin; it stays on the screen.
    return std::clamp(pos.col, 0, vt->cols - 1);
}

bool tarvik_vt_cursor_visible(const TarvikVt *vt)
{
    return vt && vt->cursor_visible;
}

int tarvik_vt_fd(const TarvikVt *vt)
{
    return vt && vt->master.valid() ? vt->master.get() : -1;
}
