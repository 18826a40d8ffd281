// The terminal-emulation layer: one emulated screen with a child process on its own pseudo-terminal.
// It uses no header of the program above it; what it needs of the program (colour pairs to draw with,
// where scrolled lines go) is handed to it.
//
// The two ways bytes travel through it:
//   to the child: tarvik_vt_keypress (keys.cpp) turns a curses key into the bytes a terminal sends,
//     tarvik_vt_send and tarvik_vt_paste take typed text and pastes whole; pty_send (pty.cpp) queues
//     them and writes what the pseudo-terminal takes, the rest when a poll finds it writable.
//   from the child: the caller polls the masters (tarvik_vt_fd, tarvik_vt_poll_events) and hands the
//     ready ones to tarvik_vt_update_ready; pty_read (pty.cpp) reads them; vt_write (filter.cpp) passes
//     on what libvterm handles safely; libvterm's state layer paints into the layer's own cells
//     (cells.cpp), noting damaged rows and handing lines that leave the top to the scrollback;
//     tarvik_vt_draw (draw.cpp) copies the damaged rows into a curses window with colour pairs from
//     palette.cpp.
//
// Order of calls for one handle: create; forkpty once; any mix of update, keypress and draw (these go on
// working after forsake_child); forsake_child after the child exited (again is harmless); destroy once.
// Main thread only.
#pragma once

#include <curses.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>

struct TarvikVt;

// One cell of the emulated screen. `ch` is a Unicode code point (32 for a blank); `width` is 2 for the
// left half of a wide character, 0 for the right half that it covers, 1 otherwise.
struct TarvikCell {
    uint32_t ch;
    int width;
};

// How a cell looks. A colour is kTarvikDefaultColor (the terminal's own), an index 0-255, or
// kTarvikRgbColor | 0xRRGGBB.
constexpr uint32_t kTarvikDefaultColor = 0xFFFFFFFFu;
constexpr uint32_t kTarvikRgbColor = 0x01000000u;
// A double underline has kTarvikUnderline too.
constexpr uint16_t kTarvikBold = 1, kTarvikUnderline = 2, kTarvikItalic = 4, kTarvikBlink = 8,
                   kTarvikReverse = 16, kTarvikStrike = 32, kTarvikFaint = 64, kTarvikOverline = 128,
                   kTarvikDoubleUnderline = 256;
struct TarvikStyle {
    uint32_t fg = kTarvikDefaultColor;
    uint32_t bg = kTarvikDefaultColor;
    uint16_t attrs = 0; // kTarvik* bits
    bool operator==(const TarvikStyle &) const = default;
};

// A cell of a line kept apart from the screen (what scrolled away): all its characters, its width as
// in TarvikCell, and its look. A covered right half has width 0 and no character.
constexpr int kTarvikMaxChars = 6;
struct TarvikLineCell {
    uint32_t chars[kTarvikMaxChars]; // the character, then its combining marks; 0 after the last
    int width;
    TarvikStyle style;
};

// Gets each line that leaves the top of the main screen (never one of the alternate screen), oldest
// first: its cells up to the last one that shows anything, so an empty line has none, and whether it
// goes on from the line before it (see tarvik_vt_row_wrapped).
using TarvikScrollbackPush = void (*)(const TarvikLineCell *cells, int count, bool wrapped, void *user);

// A blank screen of rows x cols cells: at least 1 row, and at least 2 columns so a wide character fits.
TarvikVt *tarvik_vt_create(int rows, int cols);

// Starts the command line as a child on a new pseudo-terminal of this screen's size. The line is split
// at blanks into arguments that are exec'd directly: no shell ever sees it. Returns the child's pid; 0
// while children are held (the terminal is open, and the pid comes with the release); -1 when no child
// could be started (the reason is then shown on the screen). A command that cannot be exec'd still
// gets a child, which shows the reason on the screen and exits with 127.
pid_t tarvik_vt_forkpty(TarvikVt *vt, const char *command_line);
// The pid of this screen's child: as tarvik_vt_forkpty returned it, or as the release gave it to a
// held one; 0 while held, -1 when none was started or it could not be.
pid_t tarvik_vt_pid(const TarvikVt *vt);

// Gives the screen a new size (at least 1 row and 2 columns, as at creation), as a terminal window
// does: with fewer rows the lines above the cursor go off the top so that the cursor's line stays in
// view; lines are cut or padded on the right, never reflowed, and a wide character the new edge would
// cut goes whole. Both the main and the alternate screen follow, and the child's pseudo-terminal takes
// the size too (its programs get SIGWINCH). A screen whose child ended keeps its content the same way.
void tarvik_vt_resize(TarvikVt *vt, int rows, int cols);

// Applies pending output of the child to the screen; never blocks, and bounded in time per call.
void tarvik_vt_update(TarvikVt *vt);
// What a poll of a screen's terminal (tarvik_vt_fd) should wait for: its output, and room for the input
// waiting for it; 0 for a screen without a terminal.
short tarvik_vt_poll_events(const TarvikVt *vt);
// Takes in the output of the screens a poll found ready, each entry of `revents` what it found for the
// screen beside it (with tarvik_vt_poll_events asked for): exactly those are read, and those that can
// take their waiting input get it. Bounded in time as tarvik_vt_update_all.
void tarvik_vt_update_ready(TarvikVt *const *vts, const short *revents, size_t count);
// Reading floods of output stops early, once each has been read, when this descriptor has something
// to read (the user's keyboard, while keys are taken; -1 for none): a key typed beside them waits for
// one round of reads, not for an update's whole time.
void tarvik_set_interrupt_fd(int fd);
// Finishes the forsaken screens whose time to wait for their last output is up (tarvik_vt_linger_ms).
void tarvik_vt_finish_lingering();
// Takes in the output waiting on all the screens, found with one look at all their terminals rather
// than a read on each, and sends their queued input. Bounded in time as a whole however many screens
// flood: screens with a little output (an echo, a prompt) are read first, the floods share the rest of
// the time in turns and go on next call where this one stopped. Null entries are skipped.
void tarvik_vt_update_all(TarvikVt *const *vts, size_t count);

// Sends what a terminal would send for a curses key code: the byte itself below 256, an escape
// sequence for special keys. Unknown codes are dropped.
void tarvik_vt_keypress(TarvikVt *vt, int key);
// Sends bytes as they were typed (text, which needs no key translation), in one write when the
// terminal takes them all.
void tarvik_vt_send(TarvikVt *vt, const char *bytes, size_t len);
// Sends a paste, as a terminal does: between ESC [ 200 ~ and ESC [ 201 ~ when the child's program
// turned bracketed paste on (mode 2004), with any end bracket inside the text left out so that the
// paste cannot end early; as the plain text otherwise.
void tarvik_vt_paste(TarvikVt *vt, const char *bytes, size_t len);

// The user's input that a child has not read yet waits in its screen's queue, in order. Up to this
// many bytes wait for one child; past that the caller stops reading the keyboard (the user's terminal
// holds what comes next) until there is room again. Keys, sends and pastes are never dropped: what a
// call is given is kept whole even past the bound, so a paste may take the queue over it at once.
constexpr size_t kTarvikInputMax = 1 << 20;
// How many more bytes of input the queue takes before it holds kTarvikInputMax: 0 when full. A screen
// without a terminal (never started, ended, forsaken) drops what it is sent, so it has room always.
size_t tarvik_vt_input_room(const TarvikVt *vt);

// Paints the screen into the window from (y, x) and leaves the window's cursor on the emulated cursor.
void tarvik_vt_draw(TarvikVt *vt, WINDOW *win, int y, int x);
// Paints a part of the screen, never resized, into rows x cols of the window from (y, x): the screen's
// rows from `top` and its columns from `left` on. Rows and columns outside the screen are blank, and a
// wide character that either edge of the part cuts shows as a blank, never as half a glyph. The whole
// part is painted, whatever changed. True, with the window's cursor on the emulated cursor, when that
// is inside the part; false with the window's cursor left where it was. Several screens drawn in one
// frame share it: tarvik_next_frame once before them.
bool tarvik_vt_draw_part(TarvikVt *vt, WINDOW *win, int y, int x, int rows, int cols, int top, int left);
// As tarvik_vt_draw_part, but when the screen was last drawn as that same part at that same place of
// the window, only its rows that changed since are painted: the caller vouches that nothing else was
// drawn over the part in between.
bool tarvik_vt_draw_part_changes(TarvikVt *vt, WINDOW *win, int y, int x, int rows, int cols, int top,
                                 int left);
// Starts a frame of drawing for tarvik_vt_draw_part: the colour pairs taken in it are not given to
// other colours before the next frame. (tarvik_vt_draw starts its own.)
void tarvik_next_frame();
// Sends what curses has to send (doupdate) to the user's terminal, whose output is `out`, then the
// strike-through, overline and double underline of the cells drawn here, where the terminal has them:
// curses has no attributes for those. The terminal is left as curses left it.
void tarvik_update(FILE *out);

// True for a character that is never written to the user's terminal, because a terminal may reorder,
// join or widen what it shows around it: format characters such as the bidi controls, the line and
// paragraph separators, the variation selectors. tarvik_vt_draw shows them as blanks or leaves them out,
// but for the emoji selector U+FE0F after a wide character, whose two columns it keeps.
bool tarvik_char_is_format(uint32_t ch);

// Colour pairs, for the screens drawn here and for the program's own text alike. Pairs 1-63 are fixed,
// one per combination of the eight basic colours (pair 0 is white on black); on a terminal with 256
// colours the other combinations get pairs above those as they are drawn, and once the terminal has no
// more, the pair drawn longest ago is redefined. A machine's RGB colours are drawn exactly on a
// terminal whose description has direct colour, as the nearest of the 256 on other 256-colour ones.
// Defines the fixed pairs and forgets the others; after start_color on every new curses screen. With
// terminal_defaults, on a terminal with 256 colours, a machine's default colours are drawn as the
// user's terminal's own (curses' use_default_colors): pair 0 then shows those, and white on black gets
// a pair of its own, so that the program's own colours stay as they are.
void tarvik_colors_init(bool terminal_defaults = false);
// The pair showing colour fg on colour bg (curses colour numbers 0-255, or -1 for the user's default
// colour where tarvik_colors_init made it so; white on black without). A colour the terminal does not
// have, or a combination that finds no pair, gets the nearest of the basic ones.
int tarvik_color_pair(int fg, int bg);

// For a child that has exited: stops all input to its pseudo-terminal at once and takes in what it
// wrote that is there now, without waiting. What is still on its way (or what another process holding
// the terminal writes) is taken in by the updates until the terminal reaches its end or a short time
// has passed; then the note, when given, is written below it as tarvik_vt_write_note does, and the
// terminal is closed. The screen stays. Again on a forsaken screen: nothing.
void tarvik_vt_forsake_child(TarvikVt *vt, const char *note = nullptr);
// Ends the wait of a forsaken screen for its last output now: the note is written, the terminal closed.
void tarvik_vt_close(TarvikVt *vt);
// Milliseconds until an update must close a forsaken screen whose terminal has not reached its end;
// -1 when none waits.
int tarvik_vt_linger_ms();

// Writes a note of the program's own on the screen, on a line of its own below what is there, in plain
// text whatever colours and character set the child left, and leaves the cursor just after it. For
// saying how a forsaken child ended.
void tarvik_vt_write_note(TarvikVt *vt, const char *text);

// Releases everything; closing the pseudo-terminal hangs up a child that still runs.
void tarvik_vt_destroy(TarvikVt *vt);

// From now on, lines leaving the top of the main screen go to `push` (null: nowhere).
void tarvik_vt_set_scrollback(TarvikVt *vt, TarvikScrollbackPush push, void *user);

// Readable state, valid after every update.
int tarvik_vt_rows(const TarvikVt *vt);
int tarvik_vt_cols(const TarvikVt *vt);
int tarvik_vt_cursor_row(const TarvikVt *vt);
int tarvik_vt_cursor_col(const TarvikVt *vt);
bool tarvik_vt_cursor_visible(const TarvikVt *vt);
// Changes whenever the cells or the cursor change, and is never the same on two screens (nor 0): equal
// readings mean the screen showed the same in between. For drawing only what changed.
unsigned long tarvik_vt_version(const TarvikVt *vt);
// Cell at (row, col); a position outside the screen reads as a blank.
TarvikCell tarvik_vt_cell(const TarvikVt *vt, int row, int col);

// The cells of a screen row in the form of scrolled lines: fills `cells` (room for tarvik_vt_cols) and
// returns how many there are up to the last one that shows anything; 0 outside the screen.
int tarvik_vt_line(const TarvikVt *vt, int row, TarvikLineCell *cells);

// True when the row goes on from the row above it: the terminal wrapped a line too long for the screen
// onto it (a shell's long command line, say), rather than a line feed starting it.
bool tarvik_vt_row_wrapped(const TarvikVt *vt, int row);

// Paints line cells into the window from (y, x) as tarvik_vt_draw paints a screen row, cut at the
// window's edge.
void tarvik_draw_line(WINDOW *win, int y, int x, const TarvikLineCell *cells, int count);

// The pseudo-terminal's master, for poll(), open while its child is held too; -1 before forkpty, once
// forsaken, at end of file, or when the terminal could not be started.
int tarvik_vt_fd(const TarvikVt *vt);

// From now on, tarvik_vt_forkpty opens the terminal but starts no child, until
// tarvik_vt_release_children; for adding many machines at once. A held child of a screen destroyed
// before its release, or of a program that ends before it, never exists.
void tarvik_vt_hold_children();
// Ends the holding, then starts held children in the order they were asked for, for about max_ms but
// at least one, and never more than max_count; returns how many it released, 0 when none was held
// (tarvik_vt_pid then tells each one's pid, or -1 for one that could not start). The rest stay held
// for the next call, and a child asked for meanwhile is held behind them.
size_t tarvik_vt_release_children(int max_ms, size_t max_count = SIZE_MAX);
// How many children are held.
size_t tarvik_vt_held_children();

// Hangs up every child started by this layer that has not been forsaken. Async-signal-safe: for a
// fatal signal handler that must not leave ssh processes behind.
void tarvik_vt_hangup_all_children();

// Deleter for owners of a handle.
struct TarvikVtDeleter {
    void operator()(TarvikVt *vt) const { tarvik_vt_destroy(vt); }
};
