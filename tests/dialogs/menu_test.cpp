// The F1 menu and the help popup: what they draw, and what each menu key does to the machine list.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dialogs/dialog_screen.h"
#include "dialogs/menu.h"
#include "machines/mlist.h"
#include "screen/window.h"
#include "support/reap.h"

namespace {

class Menu : public DialogScreen {
protected:
    explicit Menu(int rows = 25) : DialogScreen(rows)
    {
        list_ = newwin(10, 20, 1, 0);
        // Every test's list draws into its own window, not into the one a test before it deleted.
        mlist_init(list_, 5, 20);
        menu_init(minibuf_);
    }
    ~Menu() override
    {
        mlist_delete_all();
        delwin(list_);
        // The ssh children were hung up, not waited for.
        reap_children(3000);
    }

    // a: live, tagged; b: live; c: dead, tagged; d: dead. The selection is on a.
    void make_list()
    {
        mlist_init(list_, 5, 20);
        for (const char *name : {"a.invalid", "b.invalid", "c.invalid", "d.invalid"}) mlist_add(name);
        mlist_machine(0)->tagged = true;
        mlist_machine(2)->tagged = true;
        for (int i : {2, 3}) {
            pid_t pid = mlist_machine(i)->pid;
            kill(pid, SIGKILL);
            int status = 0;
            waitpid(pid, &status, 0);
            mlist_child_exited(pid, status);
        }
    }

    // Each machine as its name, "*" when tagged and "!" when dead: "a* b c*! d!".
    static std::string list_state()
    {
        std::string s;
        for (int i = 0; i < mlist_count(); ++i) {
            const Machine *m = mlist_machine(i);
            std::string name = m->name.substr(0, m->name.find(".invalid"));
            s += (i ? " " : "") + name + (m->tagged ? "*" : "") + (m->alive ? "" : "!");
        }
        return s;
    }

    // Checks every cell of a popup on the physical screen: the border and caption, then the rows of
    // text (braces mark the bold cyan parts), all on blue.
    void expect_popup(int top, int left, int rows, int cols, const std::string &caption,
                      const std::vector<std::string> &text, const std::string &note = "", int note_col = 3,
                      bool note_highlighted = false)
    {
        const ScreenReader &t = screen_.terminal();
        for (int r = 0; r < rows; ++r) {
            std::string line = r >= 1 && r - 1 < static_cast<int>(text.size()) ? text[r - 1] : "";
            bool cyan = false;
            size_t pos = 0;
            for (int c = 0; c < cols; ++c) {
                std::string want = " ";
                bool highlighted = false;
                bool inner = r > 0 && r < rows - 1 && c > 0 && c < cols - 1;
                if (!inner) {
                    bool top_row = r == 0, bottom_row = r == rows - 1;
                    bool side = c == 0 || c == cols - 1;
                    const std::string &words = top_row ? caption : note;
                    const int from = top_row ? 3 : note_col;
                    if ((top_row || bottom_row) && c >= from && c < from + static_cast<int>(words.size())) {
                        want = words.substr(c - from, 1);
                        highlighted = bottom_row && note_highlighted;
                    } else if (side && (top_row || bottom_row))
                        want = top_row ? (c == 0 ? "┌" : "┐") : (c == 0 ? "└" : "┘");
                    else
                        want = side ? "│" : "─";
                } else if (c >= 1) {
                    while (pos < line.size() && (line[pos] == '{' || line[pos] == '}'))
                        cyan = line[pos++] == '{';
                    if (pos < line.size()) {
                        want = line.substr(pos++, 1);
                        highlighted = cyan;
                    }
                }
                ReadCell cell = t.cell(top + r, left + c);
                SCOPED_TRACE("row " + std::to_string(r) + " column " + std::to_string(c));
                EXPECT_EQ(cell.text, want);
                EXPECT_EQ(cell.bg, COLOR_BLUE);
                if (want != " ") {
                    EXPECT_EQ(cell.fg, highlighted ? COLOR_CYAN : COLOR_WHITE);
                    EXPECT_TRUE(cell.bold);
                }
            }
        }
    }

    WINDOW *list_ = nullptr;
};

const std::vector<std::string> kMenuPicture = {
    "{[h]} online help",
    "{[r]} rename machine",
    "{[o]} toggle tag all machines (live only)",
    "{[O]} toggle tag all machines (live & dead)",
    "{[t]} tag all machines (live only)",
    "{[T]} tag all machines (live & dead)",
    "{[u]} untag all machines",
    "{[z]} delete dead machines",
    "{[d]} delete all TAGGED machines",
    "{[X]} delete all machines",
    "{[q]} quit application",
    "{[R]} reconnect dead machines",
    "{[s]} scroll back selected machine",
    "{[c]} compare answers",
    "{[D]} tag dead machines",
    "{[a]} tag machines asking for a password",
    "{[m]} tag machines matching a pattern",
    "{[g]} go to next machine matching a pattern",
    "{[n]} type each machine its own name",
    "{[N]} type each machine its host name",
    "{[l]} send one line to selected machine only",
    "{[w]} wall of machines, {[W]} which ones",
};

TEST_F(Menu, DrawsItsItemsAndQuestionInABorderedBlueBox)
{
    screen_.type("x");
    menu_show();
    screen_.settle();
    // 24 x 45 on 80 x 25, without the blank row above the question, which stands on the bottom border,
    // so that the bottom line stays free for the menu's prompts; nothing repaints it after it closes.
    expect_popup(0, 17, 24, 45, "[ Menu ]", kMenuPicture, "Select an option: ", 1, true);
    for (auto [row, col] : {std::pair{0, 16}, {24, 17}, {24, 61}, {12, 62}})
        EXPECT_NE(screen_.terminal().cell(row, col).bg, COLOR_BLUE) << row << "," << col;
}

TEST_F(Menu, HelpCoversTheScreenAndItsKeyClosesTheMenuToo)
{
    make_list();
    // "u" would untag every machine if it reached the menu or stayed unread.
    screen_.type("hu");
    menu_show();
    screen_.settle();
    EXPECT_EQ(list_state(), "a* b c*! d!");
    EXPECT_EQ(leftover_key(), -1);
    expect_popup(0, 0, 25, 80, "[ Help ]",
                 {
                     "Quillor allows you to ssh into several machines at once. The list on the left",
                     "shows the machines you are logged into. Every key you type will be sent",
                     "to the currently selected machine, except the following {control keys}:",
                     "",
                     "{F1}: brings up a menu of extended options (including {quit})",
                     "{F2} and {F3}: move between machines on the list. The terminal window",
                     "      on the right shows the display of the currently selected machine.",
                     "{F4}: tag current machine. This will put a mark on the machine's name.",
                     "      The mark by itself does nothing, but some features operate on",
                     "      'all tagged machines', so this is a way to indicate which machines",
                     "      they are to operate on. The {F1} menu has additional tag commands.",
                     "{F5}: allows you to add a machine to the list. You can either supply the",
                     "      name of the machine you want to add, or type {@file} where {file}",
                     "      is the name of a file that contains machine names one per line,",
                     "      in which case all machines in that file will be added.",
                     "{F6}: delete current machine. If you want to delete multiple machines,",
                     "      you can also tag them and choose {delete all tagged machines} from",
                     "      the {F1} menu.",
                     "{F7}: toggles between {singlecast} and {multicast} mode. In singlecast",
                     "      mode, the keys you type will be directed to the currently selected",
                     "      machine, regardless of tags. When {multicast} is selected, the",
                     "      keys will be sent to {all tagged machines}, allowing you to operate",
                     "      on several machines at once.",
                 },
                 "[ 1/3  Space: next page  other keys: close ]");
}

// The cells [from, to) of a screen row as text, without the highlight and trailing blanks.
std::string cells(const ScreenReader &t, int row, int from, int to)
{
    std::string text;
    for (int col = from; col < to; ++col) text += t.cell(row, col).text;
    return text.substr(0, text.find_last_not_of(' ') + 1);
}

// The text of popup row r, between its borders.
std::string popup_row(const ScreenReader &t, int top, int r)
{
    return cells(t, top + r, 1, 79);
}

// Every command of the menu, as the menu shows it.
std::vector<std::string> shown_menu(CursesScreen &screen)
{
    screen.type("x");
    menu_show();
    screen.settle();
    const ScreenReader &t = screen.terminal();
    int top = 0; // the menu grows with its commands, in the middle of the screen
    while (top < LINES && cells(t, top, 20, 28) != "[ Menu ]") ++top;
    std::vector<std::string> items;
    for (int row = top + 1; t.cell(row, 18).text == "["; ++row) items.push_back(cells(t, row, 18, 61));
    return items;
}

// On the smallest screen the help comes in pages after its first 23 lines: Space and PageDown turn on,
// PageUp back, Space on the last page closes, and the bottom border says where the user is.
TEST_F(Menu, HelpPagesOnTheSmallestScreen)
{
    const std::string up = key("kpp"), down = key("knp");
    const std::pair<std::string, std::string> cases[] = {
        {"h x", "[ 2/3  Space: next page  PageUp: back  other keys: close ]"},
        {"h" + down + down + down + "x", "[ 3/3  PageUp: back  other keys: close ]"},
        {"h  " + up + "x", "[ 2/3  Space: next page  PageUp: back  other keys: close ]"},
        {"h" + up + "x", "[ 1/3  Space: next page  other keys: close ]"},
        {"h   ", "[ 3/3  PageUp: back  other keys: close ]"},
    };
    for (const auto &[keys, note] : cases) {
        SCOPED_TRACE(note);
        screen_.type(keys);
        menu_show();
        screen_.settle();
        EXPECT_EQ(leftover_key(), -1);
        EXPECT_EQ(cells(screen_.terminal(), 24, 3, 3 + static_cast<int>(note.size())), note);
    }
}

class TallMenu : public Menu {
protected:
    TallMenu() : Menu(kTall) {}
    static constexpr int kTall = 68;
};

// A tall screen shows all of the help at once: its first 23 lines, then every command the menu shows.
TEST_F(TallMenu, HelpShowsAllOfItBelowItsFirstLines)
{
    const std::vector<std::string> items = shown_menu(screen_);
    screen_.type("hx");
    menu_show();
    screen_.settle();
    const ScreenReader &t = screen_.terminal();
    int top = 0;
    while (top < kTall && cells(t, top, 3, 11) != "[ Help ]") ++top;
    // The help's last line, with the bottom border below it.
    int last = 1;
    while (last < kTall - top &&
           popup_row(t, top, last) != "      closes it. Everything in full: man quillor.")
        ++last;
    EXPECT_EQ(top, (kTall - last - 2) / 2) << "not in the middle of the screen";
    EXPECT_EQ(popup_row(t, top, 1).rfind("Quillor allows you", 0), 0u);
    EXPECT_EQ(popup_row(t, top, 23), "      on several machines at once.");
    EXPECT_EQ(popup_row(t, top, 24).rfind("F1 opens the menu", 0), 0u);
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(popup_row(t, top, 25 + static_cast<int>(i)).rfind("  " + items[i], 0), 0u) << items[i];
    EXPECT_EQ(cells(t, top + last + 1, 3, 21), "[ any key closes ]");
}

TEST_F(Menu, EachKeyRunsItsCommandOnlyWhenConfirmed)
{
    struct Case {
        std::string keys;
        std::string after;
    };
    const std::string unchanged = "a* b c*! d!";
    std::vector<Case> cases = {
        {"o", "a b* c*! d!"},
        {"O", "a b* c! d*!"},
        {"t", "a* b* c! d!"},
        {"T", "a* b* c*! d*!"},
        {"u", "a b c! d!"},
        {"z", "a* b"},
        {"dy\r", "b d!"},
        {"dY\r", "b d!"},
        {"dn\r", unchanged},
        {"d\r", unchanged},
        {"dy\x1b", unchanged},
        {"Xy\r", ""},
        {"XY\r", ""},
        {"Xn\r", unchanged},
        {"X\x1b", unchanged},
        {"qn\r", unchanged},
        {"q\r", unchanged},
        {"qy\x03", unchanged},
        {"x", unchanged},
        {"\x1b", unchanged},
        {key("kf1"), unchanged},
        {"rweb01\r", "web01* b c*! d!"},
        {"rweb01\x1b", unchanged},
        {"r\r", "* b c*! d!"},
        {"rabcdefghijklmnopq\r", "abcdefghijklmn* b c*! d!"},
        {"R", "a* b c* d"},
        {"D", "a b c*! d*!"},
        {"a", "a b c! d!"},
        {"m*\r", "a* b* c*! d*!"},
        {"m[bd]*\r", "a* b* c*! d*!"},
        {"m!c*\r", "a* b c! d!"},
        {"m-?.invalid\r", "a b c! d!"},
        {"mweb*\r", unchanged},
        {"m*\x1b", unchanged},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        make_list();
        discard_keys();
        screen_.type(c.keys);
        menu_show();
        EXPECT_EQ(list_state(), c.after);
        EXPECT_EQ(leftover_key(), -1);
        // Reconnected machines start as a batch, which must not hold the next case's machines.
        tarvik_vt_release_children(10000);
        mlist_children_started();
    }
}

TEST_F(Menu, QuestionsStandOnTheBottomLineBelowTheMenu)
{
    struct Case {
        std::string key;
        std::string question;
    };
    for (const Case &c : std::vector<Case>{{"d", "Really delete all TAGGED machines [y/n]?"},
                                           {"X", "Really delete ALL machines [y/n]?"},
                                           {"q", "Really quit application [y/n]?"},
                                           {"r", "Enter new machine name: "}}) {
        SCOPED_TRACE(c.key);
        DialogThread menu([] { menu_show(); });
        screen_.type(c.key);
        EXPECT_TRUE(wait_row(24, c.question)) << screen_.terminal().row_text(24);
        ReadCell cell = screen_.terminal().cell(24, 0);
        EXPECT_EQ(cell.fg, COLOR_RED);
        EXPECT_EQ(cell.bg, COLOR_BLACK);
        EXPECT_TRUE(cell.bold);
        EXPECT_EQ(screen_.terminal().cursor_col(), static_cast<int>(c.question.size()));
        EXPECT_NE(screen_.terminal().all_text().find("[ Menu ]"), std::string::npos); // still up
        screen_.type("\x07");
        menu.join();
    }
}

// The menu only reports the confirmed quit: ending the program belongs to its caller, which hangs up
// the machines first. Anything but a "y" keeps the program running.
TEST_F(Menu, QuitIsReportedOnlyWhenConfirmed)
{
    struct Case {
        const char *keys;
        bool quit;
    };
    for (Case c : {Case{"qy\r", true}, Case{"qY\r", true}, Case{"qn\r", false}, Case{"q\r", false},
                   Case{"qy\x1b", false}}) {
        SCOPED_TRACE(c.keys);
        discard_keys();
        screen_.type(c.keys);
        EXPECT_EQ(menu_show(), c.quit);
    }
}

} // namespace
