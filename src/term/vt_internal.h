// What the terminal layer's files share about one handle; nothing outside src/term includes this.
#pragma once

#include <sys/types.h>
#include <vterm.h>

#include <cstddef>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "term/fd.h"
#include "term/tarvik.h"

struct VTermFree {
    void operator()(VTerm *vt) const { vterm_free(vt); }
};

// What mend.cpp follows of the output because libvterm does not keep it, or keeps it wrongly: the
// character sets, the attributes it has no place for, origin mode, and what a saved cursor brings back
// of them.
struct FollowedState {
    // The designation of G0-G3, as the escape sequence that made it.
    std::string sets[4] = {"\x1b(B", "\x1b)B", "\x1b*B", "\x1b+B"};
    int shifted = 0;     // the set shifted in (0-3)
    bool origin = false; // origin mode (6): positions count from the scroll region's corner
    uint16_t extra = 0;  // faint, concealed and overline: bits of cells.cpp's attributes
};

// filter.cpp's parser state for one screen's incoming bytes (see there).
struct OutputFilter {
    enum class State { Ground, Escape, Csi, String, StringEscape };
    State state = State::Ground;
    std::string seq; // the escape or control sequence collected so far, as it would be passed on
    int args = 0;
    int intermediates = 0;
    bool valid = true; // the sequence is within the form and limits libvterm handles
    // A UTF-8 character whose remaining bytes have not come yet.
    unsigned char utf8[4] = {};
    int utf8_len = 0;
    int utf8_need = 0;
    uint32_t utf8_cp = 0;
    uint32_t last_char = 0; // the last character printed, which a repeat repeats
    // The last thing libvterm was given is a character (or its marks): a repeat repeats it, and a
    // combining mark joins it. What the filter drops does not count.
    bool glyph_open = false;
    FollowedState now, saved;
    int single_shift = 0;           // 2 or 3: the set of the next character only
    bool plain = true;              // no single shift, and no character set shifted in that mend.cpp corrects
    bool lr_margins = false;        // left and right margins are enabled (mode 69)
    std::string out;                // what goes to libvterm from one write, kept for its capacity
    std::string *copy_to = nullptr; // also gets everything libvterm is given (for comparing emulators)
};

// cells.cpp's attribute bits: the kTarvik* ones, and two that never leave the terminal layer.
constexpr uint16_t kCellConcealed = 0x4000, kCellProtected = 0x8000;

// What the right half of a wide character holds in place of a character.
constexpr uint32_t kCoveredChar = 0xFFFFFFFFu;
// With this bit a cell's character is the number of a character with its combining marks in the
// screen's table of clusters. libvterm's characters stay below it, malformed ones included.
constexpr uint32_t kClusterBit = 0x80000000u;

// How cells look: the colours as TarvikStyle has them, and cells.cpp's attribute bits. A screen keeps
// each look once, in its table of styles, and its cells name them by number.
struct VtStyle {
    uint32_t fg = kTarvikDefaultColor;
    uint32_t bg = kTarvikDefaultColor;
    uint16_t attrs = 0;
    bool operator==(const VtStyle &) const = default;
};

// One cell of a screen as cells.cpp keeps it: 0 where nothing was written, a character as libvterm
// gave it, kCoveredChar, or kClusterBit and a cluster's number; and the number of its style.
struct VtCell {
    uint32_t ch;
    uint32_t style;
    bool operator==(const VtCell &) const = default;
};

// One line of a screen. Most lines are short or empty, so a line holds its cells only up to the last
// one written: every cell after those is nothing, in the style `fill` (what the last erase to the end
// of the line left).
struct VtRow {
    std::vector<VtCell> cells; // never more than the screen's columns
    uint32_t fill = 0;
    // The line goes on from the one above it, as the terminal wrapped a line too long for the screen.
    bool wrapped = false;
};

// The lines of one screen (the main one or the alternate one): a ring whose screen row 0 is rows[top],
// so that the whole screen scrolls by moving `top`, and a scroll region by moving its lines, never
// their cells. The alternate screen has none while no program uses it.
struct VtBuffer {
    std::vector<VtRow> rows;
    size_t top = 0;
};

// What the cells of a screen's two buffers name by number. Looks and clusters no cell names any more
// are dropped (vt_cells_collect) once their tables have grown to twice what was in use before.
struct VtCellTables {
    std::vector<VtStyle> styles; // [0] is nothing in the default colours
    std::vector<uint32_t> index; // open addressing over `styles`: 1 + a style's number, 0 where free
    std::vector<std::array<uint32_t, VTERM_MAX_CHARS_PER_CELL>> clusters;
    size_t styles_limit = 0, clusters_limit = 0;
    // The style last looked up, which the next glyph most likely has too.
    VtStyle last_style;
    uint32_t last_id = 0;
};

// What the next character written gets.
struct VtPen {
    VTermColor fg, bg;
    uint16_t attrs; // as libvterm reports them; the filter's FollowedState::extra comes on top
};

// Bytes for the child that its pseudo-terminal could not take yet, in the order they were sent. The
// replies to the child's queries are counted apart from what the user typed: a child that asks
// without reading is denied further replies, while the user's input is never dropped here.
struct PtyQueue {
    std::string bytes;
    size_t head = 0; // bytes before it are written
    // Positions count every byte ever queued, so that they survive the queue being compacted.
    uint64_t queued = 0;  // bytes ever queued
    uint64_t written = 0; // bytes ever written to the terminal
    // The replies not yet written, as [begin, end) positions, oldest first.
    std::deque<std::pair<uint64_t, uint64_t>> replies;
    size_t reply_bytes = 0; // bytes of replies not yet written
    size_t pending() const { return bytes.size() - head; }
};

struct TarvikVt {
    int rows = 0;
    int cols = 0;
    std::unique_ptr<VTerm, VTermFree> vt;
    VTermState *state = nullptr; // owned by vt
    VtBuffer primary;
    VtBuffer alt; // no lines while no program uses it
    VtCellTables tables;
    bool alt_active = false;
    // Where the cursor stood on the main screen when a program switched to the alternate one.
    int primary_cursor_row = 0;
    bool reverse_video = false; // the whole screen shown in reverse
    VtPen pen{};
    // The style numbers the pen gives a glyph and an erase, worked out once a pen change (or a
    // renumbering of the styles) and not for every character: valid while `changes` is the pen's
    // count of changes and `extra` the filter's extra attributes.
    struct {
        unsigned long pen_changes = 0;
        unsigned long changes = ~0ul;
        uint16_t extra = 0;
        uint32_t glyph = 0, erase = 0;
    } pen_styles;
    // The cursor each screen saved last (ESC 7, CSI s, modes 1048 and 1049), [0] the main screen's:
    // libvterm keeps one for both and gives back the one saved last, whichever screen saved it. Not
    // valid: the saved cursor a terminal starts with (home, the default pen).
    struct {
        bool valid = false;
        VTermPos pos{};
        VtPen pen{};
        FollowedState state;
    } saved_cursors[2];
    int libvterm_saved = 0; // the screen whose cursor libvterm's save holds
    int output_screen = 0;  // the screen the output reaching libvterm is on: 1 after 1049h, 1047h, 47h
    // Where libvterm put the last glyph, on the screen shown then; -1 before any.
    int glyph_row = -1, glyph_col = -1;
    Fd master; // invalid before forkpty, after end of file and once forsaken
    pid_t pid = -1;
    // Its child has exited: no input goes to the terminal any more, while the last output is still
    // taken in until the terminal's end or linger_until (clock_now_ms), when the note is written.
    bool forsaken = false;
    long linger_until = 0;
    std::string exit_note;
    bool cursor_visible = true;
    // The row whose last column the last character filled while the cursor still waits there, -1 for
    // none: the next character on the row below it, at its first column, continues the line.
    int wrap_row = -1;
    // Rows whose cells changed since the screen was last drawn: [damage_top, damage_bottom).
    int damage_top = 0;
    int damage_bottom = 0;
    // Tells screens apart for as long as the program runs, unlike their addresses.
    unsigned long serial = 0;
    // Changes with every change of the cells or the cursor; see tarvik_vt_version.
    unsigned long version = 0;
    PtyQueue out_queue;
    // The last read of its output was a full one: the child prints faster than it is read.
    bool flooding = false;
    // libvterm is sending keys (through the output callback that also carries its replies).
    bool keying = false;
    // Gets libvterm's replies in place of the child while the layer asks libvterm something itself.
    std::string *answer_to = nullptr;
    OutputFilter filter;
    // Where lines leaving the top of the main screen go; see tarvik_vt_set_scrollback.
    TarvikScrollbackPush scrollback = nullptr;
    void *scrollback_user = nullptr;
};

// spawn.cpp
// The children that tarvik_vt_hangup_all_children hangs up: each one from its start until its
// terminal is closed or reaches its end. Lock-free, so that a signal handler can read the list.
void hangup_list_add(pid_t pid);
void hangup_list_remove(pid_t pid);
// A screen whose child is held (pid 0) loses its place in the queue of held starts, and never gets
// a child.
void spawn_forget_held(TarvikVt *vt);

// pty.cpp
// Reads once what the child wrote into the screen: the bytes read, 0 when nothing was waiting, -1 once
// the terminal is closed (at end of file it is closed here).
ssize_t pty_read(TarvikVt *vt);
// Reads what the child wrote into the screen until nothing is pending or `max_ms` have passed; with
// `wait_ms` > 0 it also waits that long for output that is still on its way. At end of file (the child
// and everything it started have closed the terminal) the master is closed.
void pty_pump(TarvikVt *vt, int max_ms, int wait_ms);
// Queues the user's input for the child and writes as much as the master takes now; nothing is
// dropped while the terminal is open.
void pty_send(TarvikVt *vt, const char *bytes, size_t len);
// Queues a reply to one of the child's queries, unless replies the child has not read yet already
// fill their share of the queue: a reply dropped then is one the child was not reading.
void pty_reply(TarvikVt *vt, const char *bytes, size_t len);
// The user's input waiting in the queue.
size_t pty_input_queued(const TarvikVt *vt);
// Writes queued bytes that the master can take now.
void pty_flush(TarvikVt *vt);
// Closes the master and forgets the child.
void pty_close(TarvikVt *vt);
// A forsaken screen's last output has ended (or its time is up): the terminal is closed and the note
// written below what the child showed last.
void pty_finish_forsaken(TarvikVt *vt);
// Finishes every forsaken screen whose time to linger is up.
void pty_finish_lingering();
// Tells the pseudo-terminal behind the master its size; the kernel then signals the child's programs.
int pty_set_size(int master, int rows, int cols);

// filter.cpp
// Gives libvterm what the filter let through so far.
void vt_pass_on(TarvikVt *vt);
// Writes child output into libvterm, reduced to what libvterm handles safely; every byte for the
// screen goes through here, in reads cut anywhere (a character or a sequence split between two calls
// acts whole).
void vt_write(TarvikVt *vt, const char *bytes, size_t len);
// The output has ended: a character still waiting for the rest of its bytes shows as U+FFFD.
void vt_write_end(TarvikVt *vt);
// Gives libvterm sequences of the layer's own, past the filter and whatever it holds of the child's
// output: libvterm only ever gets whole sequences, so it is always between two.
void vt_write_own(TarvikVt *vt, const std::string &bytes);

// mend.cpp
// Passes on a whole escape sequence (`control` false) or control sequence (true), within libvterm's
// limits, as the filter collected it: as it is, or rewritten into what libvterm does right, or
// nothing for one that a terminal ignores.
void mend_sequence(TarvikVt *vt, bool control);
// Passes on a C0 control.
void mend_control(TarvikVt *vt, unsigned char c);
// Passes on a printable ASCII character while the filter is not plain (see OutputFilter::plain).
void mend_ascii(TarvikVt *vt, unsigned char c);
// Comes before a character beyond ASCII is passed on: a mark that the last read's character has to
// take is given to libvterm together with that character again.
void mend_char(TarvikVt *vt, uint32_t cp);
// libvterm's cursor restore without a save gives RGB black rather than the default colours: a screen
// saves its cursor when it starts and after a reset, as terminals have a saved cursor of defaults.
constexpr char kSaveDefaults[] = "\x1b"
                                 "7";
// Forgets everything followed, as a terminal's full reset does.
void mend_reset(OutputFilter &f);

// cells.cpp
// Gives the screen its cells and has libvterm's state layer paint into them.
void vt_cells_init(TarvikVt *vt);
// Notes that rows [top, bottom) changed: a new version, and the rows to draw again.
void vt_damage(TarvikVt *vt, int top, int bottom);
// Drops the looks and clusters that no cell names any more, when their tables have grown enough for
// it to be worth the look at every cell; between two writes to libvterm, never inside one.
void vt_cells_collect(TarvikVt *vt);
// The cell at a position inside the screen, as it should be shown: the right half of a wide
// character whose left half is gone reads as a blank, and values that are no character as U+FFFD.
// False outside the screen.
bool vt_get_cell(const TarvikVt *vt, int row, int col, VTermScreenCell &cell);
// The characters of a cell as libvterm gave them, 0 after the last; kCoveredChar first for the right
// half of a wide character. All 0 outside the screen.
void vt_cell_chars(const TarvikVt *vt, int row, int col, uint32_t (&chars)[VTERM_MAX_CHARS_PER_CELL]);
// The look of a cell; the default one outside the screen.
VtStyle vt_cell_style(const TarvikVt *vt, int row, int col);

// cell_tables.cpp
// Empty tables but for style 0, the default look.
void cell_tables_init(VtCellTables &t);
// The number of a look, which it keeps until the next collection.
uint32_t cell_tables_style(VtCellTables &t, const VtStyle &s);
// A cell's character for a character with its marks (libvterm's chars, 0 after the last; more than one).
uint32_t cell_tables_cluster(VtCellTables &t, const uint32_t *chars);
// Drops what no cell of the two buffers names, and numbers the rest anew in the cells, once a table has
// grown past its limit; the limit becomes twice what is kept.
void cell_tables_collect(VtCellTables &t, VtBuffer &primary, VtBuffer &alt);

// palette.cpp
// Starts a new frame of drawing: pairs given out from now on never take one drawn in this frame.
void palette_next_frame();
// The pair of a cell's colours (TarvikStyle's fg and bg), as close as the terminal shows them.
int palette_pair(uint32_t fg, uint32_t bg);

// overdraw.cpp
// Notes a cell just drawn into the window at (y, x), with its attributes: those curses cannot show are
// written over curses' next update by tarvik_update.
void overdraw_note(WINDOW *win, int y, int x, const cchar_t &cc, uint16_t attrs);

// vt.cpp
// Writes a line of text onto the screen itself (used to show why a child could not start).
void vt_show_message(TarvikVt *vt, const std::string &text);
