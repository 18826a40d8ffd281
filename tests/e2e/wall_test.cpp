// The wall on real logins: every tile shows its own machine's latest text, the selection and the page
// follow F2 and F3, typing in multicast reaches every tile, a filter narrows it, and a new size lays it
// out again. Tiles are found on the screen by the lines between them, not by the program's own sums.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The wall's left border: just right of the list with the default list width.
constexpr int kWallX = 10;
// The background of a selected title and list row (curses colour 1).
constexpr int kRed = 1;

struct Tile {
    int title_row, x, cols, rows; // text rows title_row + 1 .. title_row + rows
};

// The tiles as the screen shows them, row by row: a title row starts with a tee on the wall's border,
// and a tile starts right of a tee or a cross on it and ends at the next cross.
std::vector<Tile> tiles(const QuillorSession &q)
{
    const ScreenReader &s = q.screen();
    const int last = q.rows() - 3;
    std::vector<int> titles;
    for (int r = 1; r <= last; ++r)
        if (s.cell(r, kWallX).text == "├") titles.push_back(r);
    std::vector<Tile> found;
    for (size_t t = 0; t < titles.size(); ++t) {
        const int r = titles[t], below = t + 1 < titles.size() ? titles[t + 1] : last + 1;
        for (int x = kWallX + 1; x < q.cols(); ++x) {
            const std::string left = s.cell(r, x - 1).text;
            if (left != "├" && left != "┼") continue;
            int end = x;
            while (end < q.cols() && s.cell(r, end).text != "┼") ++end;
            found.push_back({r, x, end - x, below - r - 1});
        }
    }
    return found;
}

std::string tile_text(const QuillorSession &q, const Tile &t)
{
    std::string text;
    for (int r = 1; r <= t.rows; ++r)
        text += screen_cells(q.screen(), t.title_row + r, t.x, t.x + t.cols) + "\n";
    return text;
}

bool tile_selected(const QuillorSession &q, const Tile &t)
{
    return q.screen().cell(t.title_row, t.x + 1).bg == kRed;
}

bool caption_is(QuillorSession &q, const std::string &caption)
{
    return q.wait_for([&](const ScreenReader &s) {
        return screen_cells(s, 0, kWallX + 2, kWallX + 2 + static_cast<int>(caption.size())) == caption;
    });
}

// Tile k of the page shows the text marked for machine `first` + k, for every tile with a machine.
bool page_shows(QuillorSession &q, int first, int machines, const std::string &stem)
{
    return q.wait_for([&](const ScreenReader &) {
        std::vector<Tile> all = tiles(q);
        for (int k = 0; k < static_cast<int>(all.size()) && first + k < machines; ++k)
            if (tile_text(q, all[k]).find(stem + std::to_string(100 + first + k)) == std::string::npos)
                return false;
        return !all.empty();
    });
}

// Which tiles of the page have the selected machine's title bar.
std::vector<int> selected_tiles(const QuillorSession &q)
{
    std::vector<int> on;
    std::vector<Tile> all = tiles(q);
    for (int k = 0; k < static_cast<int>(all.size()); ++k)
        if (tile_selected(q, all[k])) on.push_back(k);
    return on;
}

bool selected_tiles_are(QuillorSession &q, const std::vector<int> &want)
{
    return q.wait_for([&](const ScreenReader &) { return selected_tiles(q) == want; });
}

void menu_key(QuillorSession &q, const std::string &key)
{
    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    q.send(key);
    ASSERT_TRUE(q.wait_for([](const ScreenReader &s) {
        return s.all_text().find("Select an option") == std::string::npos;
    })) << q.dump();
}

TEST(E2eWall, TilesFollowTheMachinesTheSelectionTheFilterAndTheSize)
{
    // Sixteen machines on the smallest screen, where a page holds fifteen tiles.
    QuillorSession q({}, 25, 80);
    ASSERT_NO_FATAL_FAILURE(log_into_sshd(q, 8));
    constexpr int kMachines = 16;
    for (int i = 9; i <= kMachines; ++i) ASSERT_TRUE(q.add(shared_sshd()->add_name(i - 8), i)) << q.dump();
    for (int i = 0; i < kMachines; ++i) {
        ASSERT_TRUE(q.select(i)) << q.dump();
        ASSERT_TRUE(q.terminal_shows("# ")) << "machine " << i << q.dump();
        q.send("echo TILE_$((" + std::to_string(100 + i) + "))\r");
        ASSERT_TRUE(q.terminal_shows("TILE_" + std::to_string(100 + i))) << q.dump();
    }
    ASSERT_TRUE(q.select(0)) << q.dump();

    ASSERT_NO_FATAL_FAILURE(menu_key(q, "w"));
    ASSERT_TRUE(caption_is(q, "[Wall: 16 machines, page 1 of 2]")) << q.dump();
    EXPECT_TRUE(page_shows(q, 0, kMachines, "TILE_")) << q.dump();
    EXPECT_EQ(tiles(q).size(), 15u) << q.dump();
    for (const Tile &t : tiles(q)) EXPECT_GE(t.cols, 20) << q.dump();
    EXPECT_TRUE(selected_tiles_are(q, {0})) << q.dump();
    // The list stays beside the wall, the selected row in its colours.
    EXPECT_EQ(q.list_cell(0).bg, kRed) << q.dump();

    q.send(keys::F3);
    EXPECT_TRUE(selected_tiles_are(q, {1})) << q.dump();
    // The last machine is on the second page, alone.
    ASSERT_TRUE(q.select(kMachines - 1)) << q.dump();
    ASSERT_TRUE(caption_is(q, "[Wall: 16 machines, page 2 of 2]")) << q.dump();
    EXPECT_TRUE(page_shows(q, 15, kMachines, "TILE_")) << q.dump();
    EXPECT_TRUE(selected_tiles_are(q, {0})) << q.dump();

    // Multicast shows where keys go, the tagged machines: every one of them gets what is typed.
    ASSERT_NO_FATAL_FAILURE(menu_key(q, "T"));
    q.send(keys::F7);
    ASSERT_TRUE(caption_is(q, "[Wall: 16 tagged (multicast), page 2 of 2]")) << q.dump();
    q.send("clear; echo ALL_$((100+6*7))\r");
    ASSERT_TRUE(q.select(0)) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        for (const Tile &t : tiles(q))
            if (tile_text(q, t).find("ALL_142") == std::string::npos) return false;
        return true;
    })) << q.dump();

    // Untagged, machine 0 leaves the wall of the tagged ones: fifteen fit on one page from machine 1.
    q.send(keys::F4);
    ASSERT_TRUE(caption_is(q, "[Wall: 15 tagged (multicast)]")) << q.dump();
    ASSERT_NO_FATAL_FAILURE(menu_key(q, "W"));
    ASSERT_TRUE(caption_is(q, "[Wall: all 16, page 1 of 2]")) << q.dump();
    ASSERT_NO_FATAL_FAILURE(menu_key(q, "W"));
    ASSERT_TRUE(caption_is(q, "[Wall: tagged 15]")) << q.dump();
    EXPECT_TRUE(selected_tiles_are(q, {})) << q.dump();
    q.send(keys::F3);
    EXPECT_TRUE(selected_tiles_are(q, {0})) << q.dump();

    // A larger window holds more and larger tiles; one too small for the panels shows the notice; and
    // the smallest again the page of fifteen.
    q.resize(40, 132);
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) {
        std::vector<Tile> all = tiles(q);
        return all.size() >= 15 && all.size() < 20 && all[0].cols > 22;
    })) << q.dump();
    q.resize(24, 80);
    ASSERT_TRUE(q.wait_for_text("Terminal too small: 80 x 24")) << q.dump();
    q.resize(25, 80);
    ASSERT_TRUE(caption_is(q, "[Wall: tagged 15]")) << q.dump();
    EXPECT_TRUE(q.wait_for([&](const ScreenReader &) { return tiles(q).size() == 15u; })) << q.dump();

    // Off again: the selected machine's terminal in its panel, as before.
    ASSERT_NO_FATAL_FAILURE(menu_key(q, "w"));
    EXPECT_TRUE(q.terminal_shows("ALL_142")) << q.dump();
    EXPECT_TRUE(tiles(q).empty()) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

TEST(E2eWall, OptionStartsWithTheWall)
{
    QuillorSession q({"-w"}, 25, 80);
    ASSERT_TRUE(q.skip_splash()) << q.dump();
    ASSERT_TRUE(caption_is(q, "[Wall: 0 machines]")) << q.dump();
    EXPECT_TRUE(q.wait_for_text("No machine to show here")) << q.dump();
    EXPECT_EQ(q.quit(), 0) << q.dump();
}

} // namespace
