// What the fuzzers check for each input, shared with the tests that replay their kept inputs.
#include "support/fuzz_checks.h"

#include <curses.h>
#include <wchar.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "dialogs/minibuf.h"
#include "screen/colors.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

namespace {

// One curses screen for the whole process, in the program's input modes. Its output goes to
// /dev/null, which still runs every byte through curses' own output path; its input is at end of file,
// so an empty key queue reads at once as the time-out (-1) instead of waiting 200 ms.
void screen_once()
{
    static const bool ready = [] {
        std::setlocale(LC_ALL, "C.UTF-8");
        setenv("LINES", "25", 1);
        setenv("COLUMNS", "80", 1);
        FILE *out = std::fopen("/dev/null", "w");
        FILE *in = std::fopen("/dev/null", "r");
        SCREEN *screen = out && in ? newterm("xterm-256color", out, in) : nullptr;
        if (!screen) {
            std::fprintf(stderr, "fuzz_checks: no curses screen (is the xterm-256color entry installed?)\n");
            std::abort();
        }
        set_term(screen);
        start_color();
        init_color_pairs();
        keypad(stdscr, TRUE);
        wtimeout(stdscr, 200);
        noecho();
        raw();
        return true;
    }();
    (void)ready;
}

struct WindowDeleter {
    void operator()(WINDOW *win) const { delwin(win); }
};
using Window = std::unique_ptr<WINDOW, WindowDeleter>;

std::string at(int row, int col) { return "(" + std::to_string(row) + ", " + std::to_string(col) + ")"; }

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", v);
    return buf;
}

// ---- the terminal layer ----

struct Geometry {
    int rows, cols;
};
// The program's own sizes are large, but small screens are where wide characters have no room. The
// window is as large as asked; the screen may be larger (a wide character needs two columns).
constexpr Geometry kGeometries[] = {{5, 7}, {24, 80}, {1, 1}, {2, 3}};
// Child output arrives in reads of any size; a sequence cut between two must come out the same.
constexpr size_t kPieces[] = {1, 2, 3, 5, 16, 64, 4096, SIZE_MAX};

std::string check_cursor(const TarvikVt *vt, Geometry g)
{
    int row = tarvik_vt_cursor_row(vt), col = tarvik_vt_cursor_col(vt);
    if (row < 0 || row >= g.rows || col < 0 || col >= g.cols) return "cursor off the screen at " + at(row, col);
    return {};
}

std::string check_cells(const TarvikVt *vt, Geometry g)
{
    if (tarvik_vt_rows(vt) != g.rows || tarvik_vt_cols(vt) != g.cols)
        return "screen size changed to " + std::to_string(tarvik_vt_rows(vt)) + " x " +
               std::to_string(tarvik_vt_cols(vt));
    for (int row = 0; row < g.rows; ++row) {
        for (int col = 0; col < g.cols; ++col) {
            TarvikCell c = tarvik_vt_cell(vt, row, col);
            if (c.ch == 0 || c.ch > 0x10FFFF || (c.ch >= 0xD800 && c.ch <= 0xDFFF))
                return "cell " + at(row, col) + " holds " + hex(c.ch) + ", not a character";
            if (c.width == 0 && (col == 0 || tarvik_vt_cell(vt, row, col - 1).width != 2))
                return "cell " + at(row, col) + " is covered, but no wide character stands on its left";
            if (c.width == 2 && (col + 1 >= g.cols || tarvik_vt_cell(vt, row, col + 1).width != 0))
                return "wide character at " + at(row, col) + " has no covered cell on its right";
            if (c.width < 0 || c.width > 2)
                return "cell " + at(row, col) + " has width " + std::to_string(c.width);
        }
    }
    const int outside[][2] = {{-1, 0}, {0, -1}, {g.rows, 0}, {0, g.cols}, {g.rows, g.cols}};
    for (const auto &p : outside) {
        TarvikCell c = tarvik_vt_cell(vt, p[0], p[1]);
        if (c.ch != 32 || c.width != 1) return "position " + at(p[0], p[1]) + " outside the screen is not a blank";
    }
    return {};
}

// Draws the screen as the redraw does, into an erased window, and reads it back; a window smaller than
// the screen shows its top-left part.
std::string check_draw(TarvikVt *vt, WINDOW *win)
{
    werase(win);
    tarvik_vt_draw(vt, win, 0, 0, nullptr);
    int rows = std::min(getmaxy(win), tarvik_vt_rows(vt)), cols = std::min(getmaxx(win), tarvik_vt_cols(vt));
    int row = std::min(tarvik_vt_cursor_row(vt), rows - 1), col = std::min(tarvik_vt_cursor_col(vt), cols - 1);
    if (getcury(win) != row || getcurx(win) != col)
        return "window cursor at " + at(getcury(win), getcurx(win)) + ", emulated cursor at " + at(row, col);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            cchar_t cc;
            if (mvwin_wch(win, r, c, &cc) == ERR) return "window cell " + at(r, c) + " cannot be read";
            TarvikCell cell = tarvik_vt_cell(vt, r, c);
            // Characters that curses measures differently from the emulator, or cannot show, are
            // drawn as blanks; everything else must be on the window as it is on the screen.
            if (cell.width == 0 || wcwidth(static_cast<wchar_t>(cell.ch)) != cell.width) continue;
            if (c + cell.width > cols) continue; // cut by the window's edge
            wchar_t wch[CCHARW_MAX + 1] = {};
            attr_t attrs;
            short pair;
            getcchar(&cc, wch, &attrs, &pair, nullptr);
            if (static_cast<uint32_t>(wch[0]) != cell.ch)
                return "window cell " + at(r, c) + " shows " + hex(static_cast<uint32_t>(wch[0])) + ", screen holds " +
                       hex(cell.ch);
        }
    }
    wnoutrefresh(win);
    doupdate();
    return {};
}

WINDOW *vt_window(size_t index)
{
    static Window windows[std::size(kGeometries)];
    if (!windows[index]) windows[index].reset(newwin(kGeometries[index].rows, kGeometries[index].cols, 0, 0));
    return windows[index].get();
}

// ---- the prompt ----

struct PromptUse {
    size_t bufsize;
    const char *prompt;
    int attribute;
};
constexpr PromptUse kPrompts[] = {
    {2, "Really quit application [y/n]?", 0x90},
    {15, "Enter new machine name: ", 0x90},
    {64, "Add: ", 0xE0},
};
// curses' key queue holds 137 keys; each chunk and its closing Enter must fit.
constexpr size_t kChunkKeys = 100;
constexpr int kEnter = 13;

// What the prompt must make of the keys: which one ends it, with what result and what text.
struct Expected {
    size_t end;
    bool accepted;
    std::string text;
};

Expected expected_prompt(const std::vector<int> &keys, std::string text, size_t bufsize)
{
    for (size_t i = 0; i < keys.size(); ++i) {
        int k = keys[i];
        if (k == 3 || k == 7 || k == 27) return {i, false, text};
        if (k == 10 || k == 13) return {i, true, text};
        if (k == 8 || k == 127 || k == KEY_BACKSPACE) {
            if (!text.empty()) text.pop_back();
        } else if (k == 21) {
            text.clear();
        } else if (((k >= 32 && k <= 126) || (k >= 128 && k <= 255)) && text.size() + 1 < bufsize) {
            text.push_back(static_cast<char>(k));
        }
    }
    return {keys.size(), false, text};
}

std::string printable(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch >= 32 && ch < 127 && ch != '"' && ch != '\\') {
            out += static_cast<char>(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", ch);
            out += buf;
        }
    }
    return out + "\"";
}

WINDOW *minibuf_window()
{
    static Window win(newwin(1, COLS, LINES - 1, 0));
    return win.get();
}

} // namespace

std::string fuzz_check_vt(const uint8_t *data, size_t size)
{
    screen_once();
    if (size == 0) return {};
    size_t which = data[0] & 3;
    Geometry g = kGeometries[which];
    size_t piece = kPieces[(data[0] >> 2) & 7];
    WINDOW *win = vt_window(which);
    std::unique_ptr<TarvikVt, TarvikVtDeleter> vt(tarvik_vt_create(g.rows, g.cols));
    if (tarvik_vt_rows(vt.get()) < g.rows || tarvik_vt_cols(vt.get()) < g.cols)
        return "asked for " + std::to_string(g.rows) + " x " + std::to_string(g.cols) + ", got " +
               std::to_string(tarvik_vt_rows(vt.get())) + " x " + std::to_string(tarvik_vt_cols(vt.get()));
    g = {tarvik_vt_rows(vt.get()), tarvik_vt_cols(vt.get())};
    std::string fault = check_cells(vt.get(), g);
    // Drawing after every read would make the fuzzer crawl: small screens are drawn after the first
    // reads and then now and again, large ones at the end only.
    bool small = g.rows * g.cols <= 64;
    size_t reads = 0;
    for (size_t pos = 1; pos < size && fault.empty();) {
        size_t n = std::min(piece, size - pos);
        vt_write(vt.get(), reinterpret_cast<const char *>(data + pos), n);
        pos += n;
        bool draw = small && (++reads <= 64 || reads % 32 == 0);
        fault = check_cursor(vt.get(), g);
        if (fault.empty() && draw) fault = check_cells(vt.get(), g);
        if (fault.empty() && draw) fault = check_draw(vt.get(), win);
        if (!fault.empty()) fault = "after byte " + std::to_string(pos) + ": " + fault;
    }
    if (fault.empty()) fault = check_cells(vt.get(), g);
    if (fault.empty()) fault = check_draw(vt.get(), win);
    return fault;
}

std::string fuzz_check_prompt(const uint8_t *data, size_t size)
{
    screen_once();
    if (size == 0) return {};
    const PromptUse &use = kPrompts[data[0] % std::size(kPrompts)];
    std::vector<int> keys;
    for (size_t i = 1; i + 1 < size; i += 2) keys.push_back(static_cast<int>((data[i] | data[i + 1] << 8) % 513) - 1);
    WINDOW *win = minibuf_window();

    // Each chunk is one prompt, ended by Enter if by nothing before; the next prompt starts from the
    // text the last one left, as an initial text is edited from its end.
    std::string text;
    size_t start = 0;
    do {
        std::vector<int> chunk(keys.begin() + static_cast<long>(start),
                               keys.begin() + static_cast<long>(std::min(keys.size(), start + kChunkKeys)));
        chunk.push_back(kEnter);
        flushinp();
        // The queue gives back first what was pushed last.
        for (auto k = chunk.rbegin(); k != chunk.rend(); ++k)
            if (ungetch(*k) == ERR) return "curses' key queue is full";

        Expected want = expected_prompt(chunk, text, use.bufsize);
        std::string before = text;
        bool accepted = minibuf_prompt(win, use.prompt, use.attribute, text, use.bufsize);
        std::string where = "prompt from key " + std::to_string(start) + " with " + printable(before) + ": ";
        if (accepted != want.accepted)
            return where + (accepted ? "accepted" : "cancelled") + " at key " + std::to_string(start + want.end);
        if (text.size() >= use.bufsize)
            return where + "text of " + std::to_string(text.size()) + " bytes in a buffer of " +
                   std::to_string(use.bufsize);
        if (text != want.text) return where + "text " + printable(text) + ", should be " + printable(want.text);
        for (int col = 0; col < getmaxx(win); ++col)
            if ((mvwinch(win, 0, col) & A_CHARTEXT) != ' ') return where + "line not blank at column " + std::to_string(col);
        // Keys after the ending one are the main loop's, not the prompt's.
        for (size_t i = want.end + 1; i < chunk.size(); ++i) {
            int k = wgetch(stdscr);
            if (k != chunk[i])
                return where + "key " + std::to_string(start + i) + " (" + std::to_string(chunk[i]) +
                       ") was eaten; read " + std::to_string(k);
        }
        if (int k = wgetch(stdscr); k != -1) return where + "read " + std::to_string(k) + " after the last key";
        start += kChunkKeys;
    } while (start < keys.size());
    return {};
}

std::vector<FuzzInput> fuzz_kept_inputs(const std::string &target)
{
    namespace fs = std::filesystem;
    fs::path fuzz = fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz";
    std::vector<FuzzInput> inputs;
    for (const char *kind : {"corpus", "regressions"}) {
        fs::path dir = fuzz / kind / target;
        if (!fs::is_directory(dir)) continue;
        for (const auto &entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file()) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            inputs.push_back({entry.path().string(), {std::istreambuf_iterator<char>(in), {}}});
        }
    }
    std::sort(inputs.begin(), inputs.end(), [](const FuzzInput &a, const FuzzInput &b) { return a.path < b.path; });
    return inputs;
}
