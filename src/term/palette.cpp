// Colour pairs: the 64 fixed ones of the eight basic colours, and a bounded table for the others.
//
// curses keeps a lookup tree into its table of pairs that it does not follow when the table grows: its
// own allocator (alloc_pair) crashed the program after a few hundred colour combinations from a remote,
// and defining ever higher pairs leaves the same dangling tree. So the table is grown to its full size
// once, before any pair is defined, and this file gives out the pairs itself, reusing the one drawn
// longest ago when the terminal has no more.
#include <algorithm>
#include <vector>

#include "term/vt_internal.h"

namespace {

constexpr int kFixedPairs = 64;
constexpr int kColors = 256; // colour numbers cells are drawn with: 0-255
constexpr int kNone = -1;

struct Entry {
    int key = kNone; // fg * kColors + bg, kNone while free
    int older = kNone, newer = kNone;
    unsigned long frame = 0; // the frame it was last drawn in
};

struct Palette {
    const WINDOW *screen = nullptr; // the curses screen (its stdscr) the pairs are defined on
    int capacity = 0;               // pairs above the fixed ones that the terminal has
    std::vector<int> pair_of;       // by key; 0 while the combination has no pair
    std::vector<Entry> entries;     // by pair - kFixedPairs, as many as were given out
    int oldest = kNone, newest = kNone;
    unsigned long frame = 1;
};
Palette g_palette;

int fixed_pair(int fg, int bg)
{
    return bg * 8 + 7 - fg;
}

// The nearest basic colour of one of the 256: for pairs the terminal cannot give.
int basic_of(int color)
{
    if (color < 8) return color;
    if (color < 16) return color - 8;
    if (color < 232) {
        int c = color - 16; // a 6x6x6 cube; levels 2-5 are at least half bright
        return (c / 36 >= 2 ? 1 : 0) | (c / 6 % 6 >= 2 ? 2 : 0) | (c % 6 >= 2 ? 4 : 0);
    }
    return color >= 244 ? COLOR_WHITE : COLOR_BLACK; // the grey ramp, dark half to black
}

void palette_unlink(Palette &p, int i)
{
    Entry &e = p.entries[static_cast<size_t>(i)];
    if (e.older != kNone)
        p.entries[static_cast<size_t>(e.older)].newer = e.newer;
    else
        p.oldest = e.newer;
    if (e.newer != kNone)
        p.entries[static_cast<size_t>(e.newer)].older = e.older;
    else
        p.newest = e.older;
    e.older = e.newer = kNone;
}

void palette_touch(Palette &p, int i)
{
    Entry &e = p.entries[static_cast<size_t>(i)];
    e.frame = p.frame;
    if (p.newest == i) return;
    if (e.older != kNone || e.newer != kNone || p.oldest == i) palette_unlink(p, i);
    e.older = p.newest;
    if (p.newest != kNone) p.entries[static_cast<size_t>(p.newest)].newer = i;
    p.newest = i;
    if (p.oldest == kNone) p.oldest = i;
}

void palette_reset(Palette &p, int capacity)
{
    p = Palette{};
    p.screen = stdscr;
    p.capacity = capacity;
}

// An entry for a new combination: a fresh one while the terminal has pairs left, else the one drawn
// longest ago, unless that was in this very frame (redefining it would recolour cells just drawn).
int palette_take(Palette &p, bool &fresh)
{
    fresh = static_cast<int>(p.entries.size()) < p.capacity;
    if (fresh) {
        p.entries.emplace_back();
        return static_cast<int>(p.entries.size()) - 1;
    }
    if (p.oldest == kNone) return kNone;
    Entry &e = p.entries[static_cast<size_t>(p.oldest)];
    if (e.frame == p.frame) return kNone;
    int i = p.oldest;
    if (e.key != kNone) p.pair_of[static_cast<size_t>(e.key)] = 0;
    e.key = kNone;
    return i;
}

} // namespace

void tarvik_colors_init()
{
    int capacity = 0;
    if (COLORS >= kColors) {
        capacity = std::max(0, std::min(COLOR_PAIRS, kColors * kColors) - kFixedPairs);
        // Defining the highest pair first makes curses allocate its whole table now (see above).
        if (capacity > 0 && init_extended_pair(kFixedPairs + capacity - 1, COLOR_WHITE, COLOR_BLACK) == ERR)
            capacity = 0;
    }
    for (int fg = 0; fg < 8; ++fg)
        for (int bg = 0; bg < 8; ++bg)
            if (fg != COLOR_WHITE || bg != COLOR_BLACK)
                init_pair(static_cast<short>(fixed_pair(fg, bg)), fg, bg);
    palette_reset(g_palette, capacity);
}

int tarvik_color_pair(int fg, int bg)
{
    if (fg < 0 || fg >= kColors || fg >= COLORS) fg = fg < 0 ? COLOR_WHITE : basic_of(fg % kColors);
    if (bg < 0 || bg >= kColors || bg >= COLORS) bg = bg < 0 ? COLOR_BLACK : basic_of(bg % kColors);
    if (fg < 8 && bg < 8) return fixed_pair(fg, bg);
    Palette &p = g_palette;
    // Pair numbers of another curses screen mean nothing on this one; nor could pairs be given out
    // safely on a screen whose table was not made ready by tarvik_colors_init.
    if (p.screen != stdscr) palette_reset(p, 0);
    if (p.capacity == 0) return fixed_pair(basic_of(fg), basic_of(bg));
    if (p.pair_of.empty()) p.pair_of.assign(kColors * kColors, 0);
    int key = fg * kColors + bg;
    int pair = p.pair_of[static_cast<size_t>(key)];
    if (pair) {
        palette_touch(p, pair - kFixedPairs);
        return pair;
    }
    bool fresh;
    int i = palette_take(p, fresh);
    if (i != kNone && init_extended_pair(kFixedPairs + i, fg, bg) == ERR) {
        // A fresh entry is given back; a reused one stays free at the old end, to be taken first.
        if (fresh) p.entries.pop_back();
        i = kNone;
    }
    if (i == kNone) return fixed_pair(basic_of(fg), basic_of(bg));
    p.entries[static_cast<size_t>(i)].key = key;
    p.pair_of[static_cast<size_t>(key)] = kFixedPairs + i;
    palette_touch(p, i);
    return kFixedPairs + i;
}

int palette_pair(uint32_t fg, uint32_t bg)
{
    // The colour number for curses: 0-7 directly, 0-255 on a terminal with 256 colours; -1 for the
    // terminal's default.
    auto number = [](uint32_t code) {
        if (code == kTarvikDefaultColor) return -1;
        if (!(code & kTarvikRgbColor)) {
            int idx = static_cast<int>(code & 0xFF);
            if (idx < 8 || COLORS >= kColors) return idx;
            // The bright eight as the basic ones; tarvik_color_pair finds the nearest for the rest.
            return idx < 16 ? idx - 8 : idx;
        }
        int r = static_cast<int>(code >> 16 & 0xFF), g = static_cast<int>(code >> 8 & 0xFF),
            b = static_cast<int>(code & 0xFF);
        if (COLORS >= kColors) {
            // The xterm 6x6x6 cube is close enough for RGB cells.
            auto level = [](int v) { return v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40; };
            return 16 + 36 * level(r) + 6 * level(g) + level(b);
        }
        return (r >= 128 ? 1 : 0) | (g >= 128 ? 2 : 0) | (b >= 128 ? 4 : 0);
    };
    int f = number(fg), b = number(bg);
    if (f < 0 && b < 0) return 0; // the user's own colours
    return tarvik_color_pair(f < 0 ? COLOR_WHITE : f, b < 0 ? COLOR_BLACK : b);
}

void palette_next_frame()
{
    ++g_palette.frame;
}
