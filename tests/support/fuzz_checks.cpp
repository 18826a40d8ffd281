// What the terminal fuzzer checks for each input, shared with the tests that replay its kept inputs.
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
#include <optional>
#include <vector>

#include "support/vt_text.h"
#include "term/tarvik.h"
#include "term/vt_internal.h"

// One curses screen for the whole process, in the program's input modes. Its output goes to
// /dev/null, which still runs every byte through curses' own output path; its input is at end of file,
// so an empty key queue reads at once as the time-out (-1) instead of waiting 200 ms.
void fuzz_screen_once()
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
        tarvik_colors_init();
        keypad(stdscr, TRUE);
        wtimeout(stdscr, 200);
        noecho();
        raw();
        return true;
    }();
    (void)ready;
}

namespace {

struct WindowDeleter {
    void operator()(WINDOW *win) const { delwin(win); }
};
using Window = std::unique_ptr<WINDOW, WindowDeleter>;

std::string at(int row, int col)
{
    return "(" + std::to_string(row) + ", " + std::to_string(col) + ")";
}

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

// A size byte from 0xC0 up asks for 1 + 4 * (bits 0-2) rows and 1 + 12 * (bits 3-5) columns: from a
// single cell to 29 x 85, across the small screens and the program's own sizes.
std::optional<Geometry> size_change(uint8_t b)
{
    if (b < 0xC0) return std::nullopt;
    return Geometry{1 + (b & 7) * 4, 1 + ((b >> 3) & 7) * 12};
}

std::string check_cursor(const TarvikVt *vt, Geometry g)
{
    int row = tarvik_vt_cursor_row(vt), col = tarvik_vt_cursor_col(vt);
    if (row < 0 || row >= g.rows || col < 0 || col >= g.cols)
        return "cursor off the screen at " + at(row, col);
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
        if (c.ch != 32 || c.width != 1)
            return "position " + at(p[0], p[1]) + " outside the screen is not a blank";
    }
    return {};
}

// A cell in two of the 256 colours is drawn in exactly those: the terminal has a pair for every
// combination, however many inputs came before.
std::string check_colours(const TarvikVt *vt, int r, int c, const cchar_t &cc)
{
    VTermScreenCell cell;
    if (!vt_get_cell(vt, r, c, cell) || cell.chars[0] == kCoveredChar) return {};
    if (!VTERM_COLOR_IS_INDEXED(&cell.fg) || VTERM_COLOR_IS_DEFAULT_FG(&cell.fg) ||
        !VTERM_COLOR_IS_INDEXED(&cell.bg) || VTERM_COLOR_IS_DEFAULT_BG(&cell.bg))
        return {};
    int want_fg = cell.fg.indexed.idx, want_bg = cell.bg.indexed.idx;
    if (want_fg == COLOR_WHITE && want_bg == COLOR_BLACK) return {}; // pair 0: the terminal's own
    wchar_t wch[CCHARW_MAX + 1];
    attr_t attrs;
    short short_pair;
    int pair = 0, fg = -1, bg = -1;
    getcchar(&cc, wch, &attrs, &short_pair, &pair);
    extended_pair_content(pair ? pair : short_pair, &fg, &bg);
    if (fg == want_fg && bg == want_bg) return {};
    return "window cell " + at(r, c) + " drawn in " + std::to_string(fg) + " on " + std::to_string(bg) +
           ", screen holds " + std::to_string(want_fg) + " on " + std::to_string(want_bg);
}

// Draws the screen as the redraw does, over what the window showed before, and reads it back: every
// column shows what the screen holds there, or a blank, the replacement character or a ? where that cannot
// be shown as it is (a format character, one the locale lacks or whose width the C library sees
// otherwise, a wide one cut by the window's edge), never anything left from before. A window smaller
// than the screen shows its top-left part.
std::string check_draw(TarvikVt *vt, WINDOW *win)
{
    tarvik_vt_draw(vt, win, 0, 0);
    int rows = std::min(getmaxy(win), tarvik_vt_rows(vt)), cols = std::min(getmaxx(win), tarvik_vt_cols(vt));
    int row = std::min(tarvik_vt_cursor_row(vt), rows - 1),
        col = std::min(tarvik_vt_cursor_col(vt), cols - 1);
    if (getcury(win) != row || getcurx(win) != col)
        return "window cursor at " + at(getcury(win), getcurx(win)) + ", emulated cursor at " + at(row, col);
    auto shown_as_is = [&](TarvikCell cell, int c) {
        return wcwidth(static_cast<wchar_t>(cell.ch)) == cell.width && !tarvik_char_is_format(cell.ch) &&
               c + cell.width <= cols;
    };
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            cchar_t cc;
            if (mvwin_wch(win, r, c, &cc) == ERR) return "window cell " + at(r, c) + " cannot be read";
            if (std::string fault = check_colours(vt, r, c, cc); !fault.empty()) return fault;
            wchar_t wch[CCHARW_MAX + 1] = {};
            attr_t attrs;
            short pair;
            getcchar(&cc, wch, &attrs, &pair, nullptr);
            auto shown = static_cast<uint32_t>(wch[0]);
            TarvikCell cell = tarvik_vt_cell(vt, r, c);
            uint32_t want = cell.ch;
            // A blank, the replacement, or a ? for a character the locale cannot show.
            bool stand_in = shown == ' ' || shown == 0xFFFD || shown == '?';
            if (cell.width == 0) {
                // curses repeats a wide character in the column it covers; one the locale cannot show
                // has its ? in both columns.
                TarvikCell left = tarvik_vt_cell(vt, r, c - 1);
                if (shown_as_is(left, c - 1) ? shown == left.ch : shown == ' ' || shown == '?') continue;
                want = shown_as_is(left, c - 1) ? left.ch : ' ';
            } else if (shown_as_is(cell, c) ? shown == cell.ch : stand_in) {
                continue;
            }
            return "window cell " + at(r, c) + " shows " + hex(shown) + ", screen holds " + hex(want);
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

// The screen must not depend on where the reads ended: the same bytes in one read give the same.
std::string check_whole(const TarvikVt *cut, const uint8_t *data, size_t size, Geometry g)
{
    std::unique_ptr<TarvikVt, TarvikVtDeleter> whole(tarvik_vt_create(g.rows, g.cols));
    vt_write(whole.get(), reinterpret_cast<const char *>(data), size);
    std::string a = vt_screen_state(cut), b = vt_screen_state(whole.get());
    if (a == b) return "";
    size_t diff =
        static_cast<size_t>(std::mismatch(a.begin(), a.end(), b.begin(), b.end()).first - a.begin());
    return "cut into reads, the screen differs from the one of a single read from " + a.substr(diff, 80) +
           " (whole: " + b.substr(diff, 80) + ")";
}

} // namespace

std::string fuzz_check_vt(const uint8_t *data, size_t size)
{
    fuzz_screen_once();
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
    // With bit 7 of the first byte, a byte before each piece may change the screen's size.
    bool resizes = (data[0] & 0x80) != 0;
    for (size_t pos = 1; pos < size && fault.empty();) {
        if (resizes) {
            if (std::optional<Geometry> to = size_change(data[pos++])) {
                tarvik_vt_resize(vt.get(), to->rows, to->cols);
                g = {to->rows, std::max(2, to->cols)};
                fault = check_cursor(vt.get(), g);
                if (fault.empty()) fault = check_cells(vt.get(), g);
                if (!fault.empty()) fault = "after resizing at byte " + std::to_string(pos) + ": " + fault;
            }
            if (pos >= size || !fault.empty()) break;
        }
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
    if (fault.empty() && !resizes && piece < size - 1) fault = check_whole(vt.get(), data + 1, size - 1, g);
    return fault;
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
    std::sort(inputs.begin(), inputs.end(),
              [](const FuzzInput &a, const FuzzInput &b) { return a.path < b.path; });
    return inputs;
}
