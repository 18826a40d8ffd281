// Colour pairs: the 64 fixed ones of the eight basic colours, and a bounded table for the others.
//
// curses keeps a lookup tree into its table of pairs that it does not follow when the table grows: its
// own allocator (alloc_pair) crashed the program after a few hundred colour combinations from a remote,
// and defining ever higher pairs leaves the same dangling tree. So the table is grown to its full size
// once, before any pair is defined, and this file gives out the pairs itself, reusing the one drawn
// longest ago when the terminal has no more.
//
// Where the table exists, a machine's default colours are the user's terminal's own (curses colour -1),
// and on a terminal that takes colours as RGB values (a description with direct colour), RGB cells keep
// their exact colour; elsewhere they get the nearest of the 256.

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "term/vt_internal.h"

namespace {

constexpr int kFixedPairs = 64;
constexpr int kColors = 256; // colour numbers of the indexed colours: 0-255
// The program's own white on black, while pair 0 is the user's default colours.
constexpr int kWhiteOnBlackPair = kFixedPairs;
// Colours a terminal with direct colour has: 24 bits.
constexpr int kDirectColors = 1 << 24;
// Keys of combinations of indexed colours and the default (-1): (fg + 1) * kIndexedKeys + bg + 1.
constexpr int kIndexedKeys = kColors + 1;
constexpr uint64_t kNone = ~uint64_t{0};
constexpr int kNoEntry = -1;

struct Entry {
    uint64_t key = kNone; // of the combination it shows, kNone while free
    int older = kNoEntry, newer = kNoEntry;
    unsigned long frame = 0; // the frame it was last drawn in
};

struct Palette {
    const WINDOW *screen = nullptr; // the curses screen (its stdscr) the pairs are defined on
    int first = kFixedPairs;        // the first pair given out
    int capacity = 0;               // pairs from `first` on that the terminal has
    bool defaults = false;          // colour -1 is the user's own: pair 0 shows it
    int direct_from = 0;            // with direct colour, the first colour number taken as RGB; else 0
    std::vector<int> pair_of;       // by key of indexed colours; 0 while the combination has no pair
    std::unordered_map<uint64_t, int> rgb_pair_of; // the same for combinations with RGB colours
    std::vector<Entry> entries;                    // by pair - first, as many as were given out
    int oldest = kNoEntry, newest = kNoEntry;
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

// The nearest of the eight basic colours.
int basic_of_rgb(uint32_t rgb)
{
    return ((rgb >> 16 & 0xFF) >= 128 ? 1 : 0) | ((rgb >> 8 & 0xFF) >= 128 ? 2 : 0) |
           ((rgb & 0xFF) >= 128 ? 4 : 0);
}

// The colour of one of the 256 as xterm shows it by default.
uint32_t rgb_of_index(int idx)
{
    static const uint32_t kSixteen[] = {0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD,
                                        0x00CDCD, 0xE5E5E5, 0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    if (idx < 16) return kSixteen[idx];
    if (idx >= 232) {
        uint32_t v = static_cast<uint32_t>(8 + 10 * (idx - 232));
        return v << 16 | v << 8 | v;
    }
    auto level = [](int l) { return static_cast<uint32_t>(l == 0 ? 0 : 55 + 40 * l); };
    int c = idx - 16;
    return level(c / 36) << 16 | level(c / 6 % 6) << 8 | level(c % 6);
}

// The colour number an RGB value goes to curses with on a terminal with direct colour: those below
// the first taken as RGB would be indexed colours, so they get the least green that makes them RGB.
int direct_number(const Palette &p, uint32_t rgb)
{
    return static_cast<int>(rgb) >= p.direct_from ? static_cast<int>(rgb) : static_cast<int>(rgb | 0x100);
}

// The curses colour number for a cell's colour (a TarvikStyle colour).
int color_number(const Palette &p, uint32_t code, bool foreground)
{
    if (code == kTarvikDefaultColor) return p.defaults ? -1 : foreground ? COLOR_WHITE : COLOR_BLACK;
    if (code & kTarvikRgbColor) {
        uint32_t rgb = code & 0xFFFFFF;
        if (p.direct_from) return direct_number(p, rgb);
        if (COLORS >= kColors) {
            // The xterm 6x6x6 cube is close enough for RGB cells.
            auto level = [](uint32_t v) {
                return static_cast<int>(v < 48 ? 0 : v < 115 ? 1 : (v - 35) / 40);
            };
            return 16 + 36 * level(rgb >> 16) + 6 * level(rgb >> 8 & 0xFF) + level(rgb & 0xFF);
        }
        return basic_of_rgb(rgb);
    }
    int idx = static_cast<int>(code & 0xFF);
    if (p.direct_from && idx >= p.direct_from) return direct_number(p, rgb_of_index(idx));
    if (idx < 8 || COLORS >= kColors) return idx;
    // The bright eight as the basic ones; the pair finds the nearest for the rest.
    return idx < 16 ? idx - 8 : idx;
}

// With direct colour: the first colour number that the terminal's description sends as RGB (8, 16 or
// 256, as descriptions differ on how many indexed colours they keep); 0 without direct colour.
int direct_colour_from()
{
    if (COLORS < kDirectColors) return 0;
    const char *setaf = tigetstr("setaf");
    if (!setaf || setaf == reinterpret_cast<char *>(-1)) return 0;
    for (int from : {8, 16, kColors}) {
        const char *s = tiparm(setaf, from);
        if (s && (std::strstr(s, "38;2") || std::strstr(s, "38:2"))) return from;
    }
    return 0;
}

void palette_unlink(Palette &p, int i)
{
    Entry &e = p.entries[static_cast<size_t>(i)];
    if (e.older != kNoEntry)
        p.entries[static_cast<size_t>(e.older)].newer = e.newer;
    else
        p.oldest = e.newer;
    if (e.newer != kNoEntry)
        p.entries[static_cast<size_t>(e.newer)].older = e.older;
    else
        p.newest = e.older;
    e.older = e.newer = kNoEntry;
}

void palette_touch(Palette &p, int i)
{
    Entry &e = p.entries[static_cast<size_t>(i)];
    e.frame = p.frame;
    if (p.newest == i) return;
    if (e.older != kNoEntry || e.newer != kNoEntry || p.oldest == i) palette_unlink(p, i);
    e.older = p.newest;
    if (p.newest != kNoEntry) p.entries[static_cast<size_t>(p.newest)].newer = i;
    p.newest = i;
    if (p.oldest == kNoEntry) p.oldest = i;
}

void palette_reset(Palette &p)
{
    p = Palette{};
    p.screen = stdscr;
}

// Where the pair of a combination is noted; created as 0 for a new one.
int &palette_slot(Palette &p, uint64_t key)
{
    if (key < static_cast<uint64_t>(kIndexedKeys) * kIndexedKeys) {
        if (p.pair_of.empty()) p.pair_of.assign(static_cast<size_t>(kIndexedKeys) * kIndexedKeys, 0);
        return p.pair_of[key];
    }
    return p.rgb_pair_of[key];
}

void palette_forget(Palette &p, uint64_t key)
{
    if (key < static_cast<uint64_t>(kIndexedKeys) * kIndexedKeys)
        p.pair_of[key] = 0;
    else
        p.rgb_pair_of.erase(key);
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
    if (p.oldest == kNoEntry) return kNoEntry;
    Entry &e = p.entries[static_cast<size_t>(p.oldest)];
    if (e.frame == p.frame) return kNoEntry;
    int i = p.oldest;
    if (e.key != kNone) palette_forget(p, e.key);
    e.key = kNone;
    return i;
}

// The pair of colour numbers fg and bg (-1 for the default where the palette has it, 0-255, or RGB
// numbers on a terminal with direct colour), from the fixed ones or the table.
int palette_pair_of(int fg, int bg)
{
    Palette &p = g_palette;
    // Pair numbers of another curses screen mean nothing on this one; nor could pairs be given out
    // safely on a screen whose table was not made ready by tarvik_colors_init.
    if (p.screen != stdscr) palette_reset(p);
    auto usable = [&](int c) { return (c == -1 && p.defaults) || (c >= 0 && c < COLORS); };
    if (!usable(fg)) fg = fg < 0 ? COLOR_WHITE : basic_of(fg % kColors);
    if (!usable(bg)) bg = bg < 0 ? COLOR_BLACK : basic_of(bg % kColors);
    if (fg == -1 && bg == -1) return 0;
    if (fg == COLOR_WHITE && bg == COLOR_BLACK) return p.defaults ? kWhiteOnBlackPair : 0;
    if (fg >= 0 && fg < 8 && bg >= 0 && bg < 8) return fixed_pair(fg, bg);
    auto fallback = [&] {
        int f = fg < 0 ? COLOR_WHITE : fg < kColors ? basic_of(fg) : basic_of_rgb(static_cast<uint32_t>(fg));
        int b = bg < 0 ? COLOR_BLACK : bg < kColors ? basic_of(bg) : basic_of_rgb(static_cast<uint32_t>(bg));
        return f == COLOR_WHITE && b == COLOR_BLACK && p.defaults ? kWhiteOnBlackPair : fixed_pair(f, b);
    };
    if (p.capacity == 0) return fallback();
    uint64_t key = fg < kColors && bg < kColors
                       ? static_cast<uint64_t>(fg + 1) * kIndexedKeys + static_cast<uint64_t>(bg + 1)
                       : static_cast<uint64_t>(fg + 1) << 32 | static_cast<uint64_t>(bg + 1);
    int &slot = palette_slot(p, key);
    if (slot) {
        palette_touch(p, slot - p.first);
        return slot;
    }
    bool fresh;
    int i = palette_take(p, fresh);
    if (i != kNoEntry && init_extended_pair(p.first + i, fg, bg) == ERR) {
        // A fresh entry is given back; a reused one stays free at the old end, to be taken first.
        if (fresh) p.entries.pop_back();
        i = kNoEntry;
    }
    if (i == kNoEntry) {
        palette_forget(p, key);
        return fallback();
    }
    p.entries[static_cast<size_t>(i)].key = key;
    // The slot may have moved: taking an entry can erase others from the table of RGB pairs.
    palette_slot(p, key) = p.first + i;
    palette_touch(p, i);
    return p.first + i;
}

} // namespace

void tarvik_colors_init(bool terminal_defaults)
{
    Palette &p = g_palette;
    palette_reset(p);
    int capacity = 0;
    if (COLORS >= kColors) {
        // Only where there is room for the program's white on black beside them: curses' pair 0 becomes
        // the user's colours.
        p.defaults = terminal_defaults && COLOR_PAIRS > kWhiteOnBlackPair + 1 && use_default_colors() == OK;
        p.first = p.defaults ? kWhiteOnBlackPair + 1 : kFixedPairs;
        capacity = std::max(0, std::min(COLOR_PAIRS, kDirectColors) - p.first);
        // Defining the highest pair first makes curses allocate its whole table now (see above).
        if (capacity > 0 && init_extended_pair(p.first + capacity - 1, COLOR_WHITE, COLOR_BLACK) == ERR)
            capacity = 0;
        if (p.defaults) init_pair(kWhiteOnBlackPair, COLOR_WHITE, COLOR_BLACK);
        if (capacity > 0) p.direct_from = direct_colour_from();
    }
    p.capacity = capacity;
    for (int fg = 0; fg < 8; ++fg)
        for (int bg = 0; bg < 8; ++bg)
            if (fg != COLOR_WHITE || bg != COLOR_BLACK)
                init_pair(static_cast<short>(fixed_pair(fg, bg)), static_cast<short>(fg),
                          static_cast<short>(bg));
}

int tarvik_color_pair(int fg, int bg)
{
    // Beyond the 256 is no colour of this interface: the nearest basic one, as for a terminal without it.
    auto indexed = [](int c) { return c < 0 ? -1 : c < kColors ? c : basic_of(c % kColors); };
    return palette_pair_of(indexed(fg), indexed(bg));
}

int palette_pair(uint32_t fg, uint32_t bg)
{
    if (g_palette.screen != stdscr) palette_reset(g_palette);
    return palette_pair_of(color_number(g_palette, fg, true), color_number(g_palette, bg, false));
}

void palette_next_frame()
{
    ++g_palette.frame;
}
