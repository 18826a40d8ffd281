// Looking back through a machine's history from the menu: paging, searching and leaving, with the
// machine still running behind the view and no key of the view reaching it.
#include "support/quillor_session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kUp = "\x1bOA", kPageUp = "\x1b[5~", kHome = "\x1bOH", kEnd = "\x1bOF";

std::string row(const QuillorSession &q, int r)
{
    return screen_cells(q.screen(), r + 1, q.term_x(), q.cols());
}

std::string trimmed(std::string s)
{
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

bool minibuf_starts(QuillorSession &q, const std::string &text)
{
    return q.wait_for([&](const ScreenReader &) { return q.minibuf_text().rfind(text, 0) == 0; });
}

// seq prints 1 to 400 on a 22-row panel with 300 lines of history: the screen holds 381 to 400 and
// what follows, the history 81 to 380.
TEST(E2eScrollback, ViewPagesAndSearchesWhileTheMachineGoesOn)
{
    Sshd *sshd = shared_sshd();
    ASSERT_NE(sshd, nullptr);
    QuillorSession q({"-S", "300", "--", sshd->add_name(1)}, 25, 120);
    ASSERT_TRUE(q.terminal_shows("# ")) << q.dump();
    q.send("seq 1 400; echo DONE_$((2*3))\r");
    ASSERT_TRUE(q.terminal_shows("DONE_6")) << q.dump();
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &) { return trimmed(row(q, 21)).ends_with("#"); }))
        << q.dump();
    // Output that comes while the view is open.
    q.send("sleep 1; echo LATE_$((3+4))\r");
    ASSERT_TRUE(q.terminal_shows("LATE_$")) << q.dump();
    const std::string live = q.terminal_text();
    // The number on the screen's first row; the 300 before it are in the history.
    const int first = std::stoi(row(q, 0));

    q.send(keys::F1);
    ASSERT_TRUE(q.wait_for_text("Select an option: ")) << q.dump();
    q.send("s");
    // Opens on the screen as it was, the newest lines at the bottom: 300 of history and 22 rows.
    ASSERT_TRUE(minibuf_starts(q, "history: line 301 of 322, q to leave")) << q.dump();
    EXPECT_EQ(q.terminal_text(), live);
    // The machine's output is read meanwhile (the summary column shows it), but the view stays.
    ASSERT_TRUE(q.wait_for([&](const ScreenReader &s) {
        return s.all_text().find("LATE_7") != std::string::npos;
    })) << q.dump();
    EXPECT_EQ(q.terminal_text(), live);
    // Typed into the view, none of this reaches the machine.
    q.send("echo LEAK\r");

    struct Step {
        std::string keys;
        std::string position;
        int top_row; // the number shown on the panel's first row
    } steps[] = {
        {kHome, "history: line 1 of 322", first - 300}, {kUp, "history: line 1 of 322", first - 300},
        {kEnd, "history: line 301 of 322", first},      {kPageUp, "history: line 279 of 322", first - 22},
        {kUp, "history: line 278 of 322", first - 23},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(s.position);
        q.send(s.keys);
        ASSERT_TRUE(minibuf_starts(q, s.position)) << q.dump();
        EXPECT_EQ(trimmed(row(q, 0)), std::to_string(s.top_row)) << q.dump();
    }

    // "25" backwards from the panel's last row: each occurrence out of view is centred, on row 11;
    // one in view is shown where it is. The text found is shown reversed, and only that.
    struct Find {
        std::string keys;
        int value, panel_row;
    } finds[] = {
        {"/25\r", 325, 11},
        {"n", 259, 11},
        {"n", 258, 10},
        {"N", 259, 11},
    };
    for (const Find &f : finds) {
        SCOPED_TRACE(f.value);
        q.send(f.keys);
        const std::string text = std::to_string(f.value);
        const int at = static_cast<int>(text.find("25"));
        auto shown = [&](const ScreenReader &s) {
            if (trimmed(row(q, f.panel_row)) != text) return false;
            for (int col = 0; col < 4; ++col)
                if (s.cell(f.panel_row + 1, q.term_x() + col).reverse != (col >= at && col < at + 2))
                    return false;
            return true;
        };
        ASSERT_TRUE(q.wait_for(shown)) << q.dump();
    }
    const std::string position = q.minibuf_text();
    q.send("/zzz\r");
    ASSERT_TRUE(minibuf_starts(q, "not found: zzz")) << q.dump();
    EXPECT_EQ(trimmed(row(q, 11)), "259");
    // The next key goes back to the position, and the view did not move.
    q.send(kUp + "\x1bOB");
    ASSERT_TRUE(minibuf_starts(q, position)) << q.dump();

    // The search starts from where the view is and goes round once at either end, saying so. The
    // screen's last rows: DONE_6, the command still running, and the row its output goes to.
    auto found = [&](const std::string &text, int panel_row) {
        return q.wait_for([&](const ScreenReader &s) {
            return trimmed(row(q, panel_row)).rfind(text, 0) == 0 &&
                   s.cell(panel_row + 1, q.term_x()).reverse;
        });
    };
    q.send(kHome + "/250\r");
    ASSERT_TRUE(found("250", 11)) << q.dump();
    EXPECT_TRUE(minibuf_starts(q, "search wrapped")) << q.dump();
    q.send(kEnd + "/\r");
    ASSERT_TRUE(minibuf_starts(q, "history: line 1")) << "found again, up from the view" << q.dump();
    ASSERT_TRUE(found("250", 11)) << q.dump();
    q.send(kEnd + "/DONE\r");
    ASSERT_TRUE(found("DONE", 19)) << q.dump();
    for (const char *key : {"n", "N"}) {
        q.send(kUp + "\x1bOB" + key);
        ASSERT_TRUE(minibuf_starts(q, "search wrapped")) << key << q.dump();
        EXPECT_EQ(trimmed(row(q, 19)), "DONE_6");
    }

    // Leaving shows the live screen with what came meanwhile; the machine never saw the view's keys.
    q.send("q");
    ASSERT_TRUE(minibuf_starts(q, "    ")) << q.dump();
    ASSERT_TRUE(q.terminal_shows("LATE_7")) << q.dump();
    q.send("echo AFTER_$((1+1))\r");
    ASSERT_TRUE(q.terminal_shows("AFTER_2")) << q.dump();
    EXPECT_EQ(q.terminal_text().find("LEAK"), std::string::npos) << q.dump();
}

} // namespace
