// The list and summary panels rewrite only the rows whose text changed since the last redraw; after any
// change to the machines, each panel must look exactly as a full repaint would leave it.
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/list.h"
#include "screen/redraw.h"
#include "screen/summary.h"
#include "support/curses_screen.h"
#include "support/reap.h"
#include "support/vt_text.h"
#include "term/tarvik.h"

namespace {

class PanelChanges : public ::testing::Test {
protected:
    void SetUp() override
    {
        start_color();
        tarvik_colors_init();
        list_ = newwin(4, 10, 1, 0);
        summary_ = newwin(4, 20, 1, 10);
        mlist_init(list_, 5, 30);
    }
    void TearDown() override
    {
        mlist_delete_all();
        delwin(list_);
        delwin(summary_);
        reap_children(1000);
    }
    // A machine whose terminal has no child: the test writes its output directly.
    void add(const std::string &name)
    {
        mlist_add("-V " + name);
        Machine *m = mlist_machine(mlist_count() - 1);
        m->term.reset(tarvik_vt_create(5, 30));
        machine_rename(m, name);
    }
    void output(int i, const std::string &bytes) { vt_feed_output(mlist_machine(i)->term.get(), bytes); }
    // Both panels as one redraw leaves them; the refresh clears the windows' changed marks.
    std::string panels()
    {
        list_draw(mlist_window());
        summary_draw(summary_);
        std::string dump = window_dump(list_) + "--\n" + window_dump(summary_);
        wnoutrefresh(list_);
        wnoutrefresh(summary_);
        return dump;
    }
    std::string repainted()
    {
        touchwin(list_);
        touchwin(summary_);
        return panels();
    }

    CursesScreen screen_{25, 80};
    WINDOW *list_ = nullptr;
    WINDOW *summary_ = nullptr;
};

TEST_F(PanelChanges, EveryChangeLooksAsAfterAFullRepaint)
{
    add("web1");
    add("web2");
    add("db1");
    output(0, "\r\n$ uptime");
    output(1, "\r\n$ ");
    panels();

    const std::pair<const char *, std::function<void()>> steps[] = {
        {"output on one machine", [&] { output(1, "ls -l"); }},
        {"output that scrolls", [&] { output(2, "\r\n1\r\n2\r\n3\r\n4\r\n5\r\n$ "); }},
        {"the selection moves", [] { mlist_select_next(); }},
        {"a tag", [] { mlist_toggle_tag(); }},
        {"a machine dies", [] { mlist_machine(1)->alive = false; }},
        {"a rename", [] { mlist_rename_selected("renamed-machine"); }},
        {"more machines than rows",
         [&] {
             add("db2");
             add("db3");
         }},
        {"the list scrolls",
         [] {
             for (int i = 0; i < 5; ++i) mlist_select_next();
         }},
        {"a deletion", [] { mlist_delete_selected(); }},
        {"deletions that empty rows",
         [] {
             mlist_tag_all(false);
             mlist_delete_tagged();
         }},
        {"wide characters",
         [&] {
             add("w");
             output(0, "\xe4\xb8\xad");
         }},
        {"everything gone", [] { mlist_delete_all(); }},
    };
    for (const auto &[what, step] : steps) {
        step();
        std::string partial = panels();
        EXPECT_EQ(partial, repainted()) << "after " << what;
    }
}

TEST_F(PanelChanges, TextWrittenIntoAPanelBySomeoneElseIsPaintedOver)
{
    add("web1");
    output(0, "\r\n$ ");
    std::string clean = panels();
    mvwaddstr(list_, 2, 0, "popup");
    mvwaddstr(summary_, 0, 3, "popup");
    EXPECT_EQ(panels(), clean);
}

} // namespace
