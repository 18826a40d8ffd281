// The wall: the terminals of many machines at once, tiled right of the list, each cropped from its
// machine's own screen, which keeps its size.
#pragma once

#include <curses.h>

#include <string>

// The least tile: a title row and three rows of text, twenty columns wide.
constexpr int kWallTileCols = 20;
constexpr int kWallTileRows = 4;

// Tiles across and down.
struct WallGrid {
    int cols = 0;
    int rows = 0;
    bool operator==(const WallGrid &) const = default;
};

// The grid for `count` tiles in an area of rows x cols, where each column of tiles has a separator
// column on its left: as many tiles as fit when there are more machines than that (a page of them),
// else the grid whose tiles are largest for the count, of the shape closest to the terminals' own
// (term_rows x term_cols) among those. {0, 0} when no tile fits or there is nothing to show.
WallGrid wall_grid(int count, int rows, int cols, int term_rows, int term_cols);

// Where a tile of rows x cols starts on a screen: the rows ending at the cursor's row (from the top
// when the screen is no taller than the tile, never past its bottom), and the first columns; with
// `follow_cursor` (the selected machine's tile, where the user types), those ending at the cursor's
// column when it stands beyond them.
struct WallCrop {
    int top = 0;
    int left = 0;
    bool operator==(const WallCrop &) const = default;
};
WallCrop wall_crop(int screen_rows, int screen_cols, int cursor_row, int cursor_col, int rows, int cols,
                   bool follow_cursor);

// Which machines the wall shows. Keys: where keys go, so all of them in singlecast and the tagged ones
// in multicast; the others whatever the mode.
enum class WallFilter { Keys, All, Tagged, Odd, Dead, Printing };

// Turns the wall on or off; false, with nothing changed, when the screen has no room for a tile.
bool wall_set_on(bool on);
bool wall_on();
// The next filter, round; turns the wall on first when it is off (and there is room).
void wall_next_filter();
WallFilter wall_filter();

// The wall's caption on the top line: the filter, how many machines it shows, and the page when there
// is more than one ("[Wall: 6 tagged, page 2 of 3]").
std::string wall_caption(WallFilter filter, bool multicast, int count, int page, int pages);

// Paints the wall into its window (the top line and the area below it, right of the list): the tiles
// whose machine changed since they were painted, all of them after anything else drew into the window.
// True when the selected machine's tile shows its cursor, which the window's cursor is then left on.
bool wall_draw(WINDOW *win);
