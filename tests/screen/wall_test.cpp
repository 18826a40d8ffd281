// The wall's choices: how many tiles across and down for a count and a size, and which part of a
// machine's screen a tile shows.
#include "screen/wall.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Wall, GridIsTheLargestTilesOfTheTerminalsShapeOrAFullPage)
{
    struct Case {
        int count, rows, cols, term_rows, term_cols;
        WallGrid grid;
    } cases[] = {
        {0, 22, 70, 22, 69, {0, 0}},   // nothing to show
        {1, 22, 70, 22, 69, {1, 1}},   // one machine takes the whole area
        {2, 22, 70, 22, 69, {2, 1}},   // side by side: 34 x 21 is nearer 69 x 22 than 69 x 10
        {4, 37, 122, 37, 80, {2, 2}},  // 132 x 40: quarters of 60 x 17
        {6, 37, 122, 37, 80, {3, 2}},  // three across (39 x 17), not two (60 x 11)
        {5, 37, 122, 37, 80, {3, 2}},  // one tile of the grid left empty rather than a squeezed row
        {12, 22, 70, 22, 69, {3, 4}},  // the smallest screen's most: 22 x 4 tiles, four rows of three
        {15, 22, 70, 22, 69, {3, 5}},  // exactly a full page
        {16, 22, 70, 22, 69, {3, 5}},  // more than fit: pages of 15
        {256, 22, 70, 22, 69, {3, 5}}, // (least 21 columns with the separator, 4 rows with the title)
        {3, 22, 20, 22, 69, {0, 0}},   // narrower than one tile and its separator
        {3, 3, 70, 22, 69, {0, 0}},    // lower than one tile
        {2, 8, 21, 22, 69, {1, 2}},    // only one column: the two go one above the other
        {7, 57, 190, 57, 80, {4, 2}},  // 200 x 60: 4 x 2 (46 x 27) is nearer 80 x 57 than 3 x 3 (62 x 18)
        {40, 57, 190, 57, 80, {8, 5}}, // 8 x 5 (22 x 10)
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.count) + " machines in " + std::to_string(c.rows) + " x " +
                     std::to_string(c.cols));
        WallGrid g = wall_grid(c.count, c.rows, c.cols, c.term_rows, c.term_cols);
        EXPECT_EQ(g.cols, c.grid.cols);
        EXPECT_EQ(g.rows, c.grid.rows);
        // Never a tile below the least, never more tiles than machines need beyond a row.
        if (g.cols > 0) {
            EXPECT_GE((c.cols - g.cols) / g.cols, kWallTileCols);
            EXPECT_GE(c.rows / g.rows, kWallTileRows);
            if (c.count < g.cols * g.rows) {
                EXPECT_GT(c.count, g.cols * (g.rows - 1));
            }
        }
    }
}

TEST(Wall, CropShowsTheRowsEndingAtTheCursorAndTheFirstColumns)
{
    struct Case {
        const char *what;
        int screen_rows, screen_cols, cursor_row, cursor_col, rows, cols;
        bool selected;
        WallCrop crop;
    } cases[] = {
        {"a shell low on its screen: the rows ending at the cursor", 22, 69, 15, 14, 3, 20, false, {13, 0}},
        {"cursor at the top: the screen's first rows", 22, 69, 0, 5, 3, 20, false, {0, 0}},
        {"screen no taller than the tile: from its top", 3, 69, 2, 0, 5, 20, false, {0, 0}},
        {"cursor on the last row", 22, 69, 21, 0, 3, 20, false, {19, 0}},
        {"a long command line: the first columns", 22, 69, 10, 40, 3, 20, false, {8, 0}},
        {"the same selected: the columns ending at the cursor", 22, 69, 10, 40, 3, 20, true, {8, 21}},
        {"selected, cursor on the tile's last column", 22, 69, 10, 19, 3, 20, true, {8, 0}},
        {"selected, cursor on the screen's last column", 22, 69, 10, 68, 3, 20, true, {8, 49}},
        {"an empty screen", 22, 69, 0, 0, 3, 20, true, {0, 0}},
        {"a tile wider than the screen", 22, 30, 10, 29, 3, 40, true, {8, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WallCrop crop =
            wall_crop(c.screen_rows, c.screen_cols, c.cursor_row, c.cursor_col, c.rows, c.cols, c.selected);
        EXPECT_EQ(crop.top, c.crop.top);
        EXPECT_EQ(crop.left, c.crop.left);
    }
}

TEST(Wall, CaptionSaysTheFilterTheCountAndThePage)
{
    EXPECT_EQ(wall_caption(WallFilter::Keys, false, 12, 0, 1), "[Wall: 12 machines]");
    EXPECT_EQ(wall_caption(WallFilter::Keys, true, 6, 1, 3), "[Wall: 6 tagged (multicast), page 2 of 3]");
    EXPECT_EQ(wall_caption(WallFilter::Odd, true, 2, 0, 1), "[Wall: odd 2]");
    EXPECT_EQ(wall_caption(WallFilter::Printing, false, 0, 0, 0), "[Wall: printing 0]");
}

} // namespace
