// Drawing a screen again into the window that shows it paints only the rows that changed; the window
// must still end up exactly as a full paint leaves it, or stale text stays on the user's screen.
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "screen/colors.h"
#include "support/vt_text.h"
#include "support/vt_window.h"
#include "term/tarvik.h"

namespace {

using Vt = std::unique_ptr<TarvikVt, TarvikVtDeleter>;

// Every cell of the window with its attributes and colour pair, and the window's cursor.
std::string window_dump_with_cursor(WINDOW *win)
{
    std::string dump = window_dump(win);
    return dump + "cursor " + std::to_string(getcury(win)) + "," + std::to_string(getcurx(win));
}

// Draws as the main loop does (the refresh clears the window's changed marks), and returns the result.
std::string draw(TarvikVt *vt, WINDOW *win)
{
    tarvik_vt_draw(vt, win, 0, 0);
    std::string dump = window_dump_with_cursor(win);
    wnoutrefresh(win);
    return dump;
}

// What a full paint of the screen into the same window gives.
std::string full_paint(TarvikVt *vt, WINDOW *win)
{
    touchwin(win);
    return draw(vt, win);
}

TEST(DrawChanges, WindowMatchesAFullPaintAfterEveryKindOfChange)
{
    VtWindow s(8, 40, 30, 100);
    TarvikVt *vt = s.vt.get();
    WINDOW *win = s.win.get();
    vt_feed_output(vt, "first\r\n\033[1;31mred\033[0m and plain\r\nthird line\r\n$ ");
    draw(vt, win);

    const char *changes[] = {
        "x",                                             // one echoed key
        "\033[2;5Hover",                                 // an earlier row, the cursor moving back
        "\033[7mreverse\033[0m\r\n",                     // attributes, then a new row
        "1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n8\r\n9\r\n", // scrolling every row
        "\xe4\xb8\xad\xe6\x96\x87 wide",                 // wide characters
        "\033[?1049hfull-screen program",                // to the alternate screen
        "\033[?1049l",                                   // and back
        "\033[44m\033[2J\033[H",                         // erased in a colour
        "\033[?5h",                                      // the whole screen in reverse video
        "\033[?5l",
    };
    for (const char *change : changes) {
        vt_feed_output(vt, change);
        std::string partial = draw(vt, win);
        EXPECT_EQ(partial, full_paint(vt, win)) << "after " << change;
    }

    // A mark planted where the screen did not change survives the next draw: unchanged rows really
    // are left alone (the comparisons above would pass with full paints too).
    vt_feed_output(vt, "\033[H\033[2J\033[?5lclean");
    full_paint(vt, win);
    mvwaddch(win, 7, 39, 'M');
    wnoutrefresh(win);
    vt_feed_output(vt, "!");
    draw(vt, win);
    EXPECT_EQ(window_cell(win, 7, 39).text, "M");
}

TEST(DrawChanges, AnotherScreenOrOtherTextInTheWindowBringsAFullPaint)
{
    VtWindow s(5, 30, 30, 100);
    Vt &a = s.vt;
    Vt b(tarvik_vt_create(5, 30));
    vt_feed_output(a.get(), "machine a\r\nsecond row of a");
    vt_feed_output(b.get(), "b");
    WINDOW *win = s.win.get();
    std::string a_alone = draw(a.get(), win);

    // The selection moves to b and back to a, with a change to a in between.
    draw(b.get(), win);
    vt_feed_output(a.get(), "\033[5;1Hlast");
    std::string back = draw(a.get(), win);
    EXPECT_EQ(back, full_paint(a.get(), win));
    EXPECT_NE(back.find("s/"), std::string::npos); // "second row of a" is there again
    EXPECT_NE(back, a_alone);

    // Text written into the window by someone else is painted over, even on rows a did not change.
    mvwaddstr(win, 1, 0, "stale text");
    EXPECT_EQ(draw(a.get(), win), full_paint(a.get(), win));

    // So is a window drawn by the same screen elsewhere in between.
    WindowPtr other = vt_window_new(5, 30, 10, 0);
    draw(a.get(), other.get());
    vt_feed_output(a.get(), "\033[1;1HA");
    EXPECT_EQ(draw(a.get(), win), full_paint(a.get(), win));
}

TEST(DrawChanges, VersionChangesExactlyWhenTheScreenDoes)
{
    Vt a(tarvik_vt_create(5, 30));
    Vt b(tarvik_vt_create(5, 30));
    unsigned long v = tarvik_vt_version(a.get());
    EXPECT_NE(v, 0u);
    EXPECT_NE(v, tarvik_vt_version(b.get()));
    EXPECT_EQ(v, tarvik_vt_version(a.get()));
    vt_feed_output(a.get(), "");
    EXPECT_EQ(v, tarvik_vt_version(a.get()));

    const char *changes[] = {"text", "\033[3;7H", "\033[1m", "\033[2J"};
    for (const char *change : changes) {
        v = tarvik_vt_version(a.get());
        vt_feed_output(a.get(), change);
        unsigned long after = tarvik_vt_version(a.get());
        // A change of the pen alone shows nothing yet; everything else does.
        if (std::string(change) == "\033[1m")
            EXPECT_EQ(after, v);
        else
            EXPECT_NE(after, v) << change;
    }
}

} // namespace
