// The F1 menu and the help popup: bordered windows in the middle of the screen, one key each.
#include "dialogs/menu.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "dialogs/compareview.h"
#include "dialogs/minibuf.h"
#include "dialogs/scrollview.h"
#include "dialogs/target.h"
#include "event/wait.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/redraw.h"
#include "screen/wall.h"
#include "screen/window.h"

namespace {

constexpr int kHelpCols = 80;
constexpr int kMenuCols = 45;
// The border above and below a popup's text.
constexpr int kBorderRows = 2;

constexpr size_t kNameSize = 15; // room for 14 characters

// In every text of the popups, "{" and "}" switch to and from the highlight; they are not shown.

// A command of the menu: its key, its line in the menu, and what the help says of it after that line
// (null when the line says it all). The menu and the help are both made from this table; what the
// command does is its key's case in menu_show.
struct MenuCommand {
    char key;
    const char *item;
    const char *more;
};
constexpr MenuCommand kMenuCommands[] = {
    {'h', "online help", "this text"},
    {'r', "rename machine", "the name shown in the list; the connection stays"},
    {'o', "toggle tag all machines (live only)", nullptr},
    {'O', "toggle tag all machines (live & dead)", nullptr},
    {'t', "tag all machines (live only)", "the dead ones are untagged"},
    {'T', "tag all machines (live & dead)", nullptr},
    {'u', "untag all machines", nullptr},
    {'z', "delete dead machines", "those whose ssh has ended"},
    {'d', "delete all TAGGED machines", "asks first"},
    {'X', "delete all machines", "asks first"},
    {'q', "quit application", "asks first; answer {y} and Enter"},
    {'R', "reconnect dead machines", "each starts again in its place"},
    {'s', "scroll back selected machine", "its history, keys below"},
    {'c', "compare answers", "to the last command sent in multicast, keys below"},
    {'D', "tag dead machines", "those whose ssh has ended; untags the others"},
    {'a', "tag machines asking for a password", "or a yes/no; untags the others"},
    {'m', "tag machines matching a pattern", "a leading {!} or {-} untags them"},
    {'g', "go to next machine matching a pattern", "Enter alone: the same again"},
    {'n', "type each machine its own name", "into every one keys go to now"},
    {'N', "type each machine its host name", "the host its connection goes to"},
    {'l', "send one line to selected machine only", "also in multicast"},
    {'w', "wall of machines, {[W]} which ones", "on and off; {W}: the next filter"},
};

// The help's first lines, which fill the popup on the smallest screen.
const char *const kHelpIntro[] = {
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
};

constexpr char kHelpMenuHeading[] = "{F1} opens the menu: one key runs a command, any other key closes it.";

// After the menu's commands: the keys of each view and prompt, and what else there is to know.
const char *const kHelpMore[] = {
    "{History} ({F1} {s}): Up and Down move a line, PageUp and PageDown a panel, Home",
    "      and End go to the oldest and the newest line; {/} finds a text looking",
    "      back (Enter alone: the last text again), {n} further back, {N} forward;",
    "      {q}, Escape or {F1} leave.",
    "{Compare} ({F1} {c}): Up and Down choose a group, Space shows its whole answer,",
    "      PageUp and PageDown scroll, Enter selects the group's first machine, {q}",
    "      or Escape leave; {t} tags the group alone, {T} adds it to the tags.",
    "{Patterns} ({m}, {g}): the whole name must match; {*} any text, {?} one character,",
    "      {[a-c]} or {[!0-9]} a set, {web[01-12]} a host range, {\\} the next character.",
    "{Prompts}: Enter accepts; Escape, Ctrl-C or Ctrl-G cancel; Backspace removes a",
    "      character, Ctrl-U the whole text.",
    "{Adding} ({F5}): the text is split at blanks into ssh's arguments, so {-p 2222}",
    "      {web1} works; words after the host are a command run on that machine.",
    "{Host ranges}: {web[01-12]} at the {F5} prompt or on the command line adds web01",
    "      to web12; {db[1-3,7]} adds db1, db2, db3 and db7; {r[1-2]n[1-3]} adds six.",
    "{In the list}: {*} marks a tagged machine, a dark row one whose ssh has ended,",
    "      and {!} in the last column one whose answer differs from most (see {c}).",
    "{Bottom line}: how many machines are up, logging in, queued ({-P}), asking, dead.",
    "{This help}: Space shows the next page, PageUp the one before; any other key",
    "      closes it. Everything in full: {man quillor}.",
};

WINDOW *menu_minibuf = nullptr;

// A command's key as the menu shows it.
std::string menu_key(const MenuCommand &c)
{
    return std::string("{[") + c.key + "]}";
}

// The menu's text: one line per command.
const std::string &menu_text()
{
    static const std::string text = [] {
        std::string t;
        for (const MenuCommand &c : kMenuCommands) t += menu_key(c) + " " + c.item + "\n";
        return t;
    }();
    return text;
}

// The help, line by line: its first lines, then every command of the menu, then the rest.
const std::vector<std::string> &help_lines()
{
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> l(std::begin(kHelpIntro), std::end(kHelpIntro));
        l.emplace_back(kHelpMenuHeading);
        for (const MenuCommand &c : kMenuCommands)
            l.push_back("  " + menu_key(c) + " " + c.item + (c.more ? std::string(": ") + c.more : ""));
        l.insert(l.end(), std::begin(kHelpMore), std::end(kHelpMore));
        return l;
    }();
    return lines;
}

// Writes text from row 1, column 1, following its braces and line breaks.
void write_marked_up(WINDOW *win, const std::string &text)
{
    wmove(win, 1, 1);
    for (char ch : text) {
        switch (ch) {
        case '{': set_color(win, kAttrHighlight); break;
        case '}': set_color(win, kAttrPopup); break;
        case '\n': wmove(win, getcury(win) + 1, 1); break;
        default: waddch(win, static_cast<unsigned char>(ch)); break;
        }
    }
}

// A bordered, captioned popup in the middle of the screen, holding the text, with a note on its bottom
// border when it has one; the menu's also asks for its key on a line below the items.
struct PopupBox {
    int rows, cols;
    const char *caption;
    std::string text;
    bool asks;
    WindowPtr win; // null when curses could not make the window; the caller still waits for its key
    std::string note;
};

void popup_draw(PopupBox &box)
{
    WINDOW *win = box.win.get();
    if (!win) return;
    werase(win);
    set_color(win, kAttrPopup);
    fill_window(win, ' ');
    wborder(win, 0, 0, 0, 0, 0, 0, 0, 0);
    mvwaddstr(win, 0, 3, box.caption);
    if (!box.note.empty()) mvwaddstr(win, box.rows - 1, 3, box.note.c_str());
    write_marked_up(win, box.text);
    if (box.asks) {
        // On the last row inside the border: a blank row after the items when the box has room for it;
        // on the border itself when the items fill every row inside it.
        const int items = static_cast<int>(std::count(box.text.begin(), box.text.end(), '\n'));
        wmove(win, items + 1 < box.rows - 1 ? box.rows - 2 : box.rows - 1, 1);
        set_color(win, kAttrHighlight);
        waddstr(win, "Select an option: ");
    }
}

void popup_open(PopupBox &box)
{
    box.win = window_new(box.rows, box.cols, (LINES - box.rows) / 2, (COLS - box.cols) / 2);
    popup_draw(box);
}

// Kept on top of the panels that the wait repaints behind it, in the middle of the screen whatever size
// the screen has taken since.
void paint_popup(void *ctx)
{
    auto &box = *static_cast<PopupBox *>(ctx);
    WINDOW *win = box.win.get();
    if (!win) return;
    // A new screen size stretches a window as wide or as tall as the old screen was, and cuts one larger
    // than the new screen: the popup takes its own size and text back.
    if (getmaxy(win) != box.rows || getmaxx(win) != box.cols) {
        wresize(win, box.rows, box.cols);
        popup_draw(box);
    }
    mvwin(win, (LINES - box.rows) / 2, (COLS - box.cols) / 2);
    touchwin(win);
    wnoutrefresh(win);
}

// The next key for a popup: machines keep running behind it meanwhile.
int popup_key()
{
    wait_repaint();
    int key;
    while ((key = wait_key()) == ERR) {
    }
    return key;
}

// The help as it is shown: as many of its lines as the screen has room for, from `first` on.
struct HelpView {
    PopupBox box;
    size_t first = 0;
};

size_t help_page_lines(const HelpView &h)
{
    return static_cast<size_t>(h.box.rows - kBorderRows);
}

// Fits the help to the screen: every line when they fit, else pages of as many as fit, the first
// shown page holding line `first`; the note on the border says where the user is and which keys go on.
void help_fit(HelpView &h)
{
    const std::vector<std::string> &lines = help_lines();
    const size_t total = lines.size();
    h.box.rows = static_cast<int>(std::min<size_t>(std::max(LINES, kBorderRows + 1), total + kBorderRows));
    const size_t page = help_page_lines(h);
    h.first = std::min(h.first, total - 1) / page * page;
    h.box.text.clear();
    for (size_t i = h.first; i < std::min(total, h.first + page); ++i) h.box.text += lines[i] + "\n";
    const size_t pages = (total + page - 1) / page, at = h.first / page + 1;
    if (pages == 1) {
        h.box.note = "[ any key closes ]";
        return;
    }
    h.box.note = "[ " + std::to_string(at) + "/" + std::to_string(pages) + "  ";
    if (at < pages) h.box.note += "Space: next page  ";
    if (at > 1) h.box.note += "PageUp: back  ";
    h.box.note += "other keys: close ]";
}

// Drawn over the panels like any popup, refitted first to the screen's size of now. (curses may have
// stretched the window to that size already, with the old text in it.)
void paint_help(void *ctx)
{
    auto &h = *static_cast<HelpView *>(ctx);
    const int rows = h.box.rows;
    const size_t first = h.first;
    help_fit(h);
    if (h.box.win && (h.box.rows != rows || h.first != first)) {
        wresize(h.box.win.get(), h.box.rows, h.box.cols);
        popup_draw(h.box);
    }
    paint_popup(&h.box);
}

bool confirm(const char *question)
{
    return minibuf_confirm(menu_minibuf, question, kAttrQuestion);
}

// Tags exactly the machines in one state, so that what is typed in multicast next reaches those alone,
// and says how many.
void tag_only(FleetState state)
{
    const std::string said = std::to_string(mlist_tag_only(state)) + " tagged";
    redraw_set_note(said.c_str(), kAttrText);
}

void rename_selected()
{
    std::string name;
    if (minibuf_prompt(menu_minibuf, "Enter new machine name: ", kAttrQuestion, name, kNameSize))
        mlist_rename_selected(name);
}

} // namespace

void menu_init(WINDOW *minibuf_window)
{
    menu_minibuf = minibuf_window;
}

void help_show()
{
    HelpView h;
    h.box = PopupBox{0, kHelpCols, "[ Help ]", "", false, nullptr, ""};
    help_fit(h);
    popup_open(h.box);
    WaitDialog dialog(paint_help, &h);
    for (;;) {
        int key = popup_key();
        const size_t page = help_page_lines(h);
        if ((key == ' ' || key == KEY_NPAGE) && h.first + page < help_lines().size())
            h.first += page;
        else if (key == KEY_PPAGE)
            h.first -= std::min(h.first, page);
        else if (key != KEY_NPAGE)
            return; // the key that closes the help is dropped
        help_fit(h);
        popup_draw(h.box);
    }
}

bool menu_show()
{
    const int items = static_cast<int>(std::size(kMenuCommands));
    // The items from row 1, a blank row, the question, and the border around them. A screen with no
    // room for the blank row and the bottom line below the box loses the blank row: the menu's prompts
    // and questions stand on the bottom line.
    // With less room still, the question stands on the bottom border.
    const int rows = items + 4 < LINES ? items + 4 : items + 3 < LINES ? items + 3 : items + 2;
    PopupBox box{rows, kMenuCols, "[ Menu ]", menu_text(), true, nullptr, ""};
    popup_open(box);
    int key;
    {
        WaitDialog dialog(paint_popup, &box);
        key = popup_key();
    }
    if (key == 's') {
        // The view takes the terminal panel and the bottom line: the menu closes first.
        box.win.reset();
        scrollview_show();
        return false;
    }
    if (key == 'c') {
        box.win.reset();
        compareview_show();
        return false;
    }
    // The menu stays up, under a question it asks, until the command is done.
    WaitDialog dialog(paint_popup, &box);
    switch (key) {
    case 'h': help_show(); break;
    case 'r': rename_selected(); break;
    case 'o': mlist_toggle_tag_all(true); break;
    case 'O': mlist_toggle_tag_all(false); break;
    case 't': mlist_tag_all(true); break;
    case 'T': mlist_tag_all(false); break;
    case 'u': mlist_untag_all(); break;
    case 'z': mlist_delete_dead(); break;
    case 'd':
        if (confirm("Really delete all TAGGED machines [y/n]?")) mlist_delete_tagged();
        break;
    case 'X':
        if (confirm("Really delete ALL machines [y/n]?")) mlist_delete_all();
        break;
    case 'q': return confirm("Really quit application [y/n]?");
    case 'R': mlist_reconnect_dead(); break;
    case 'D': tag_only(FleetState::Dead); break;
    case 'a': tag_only(FleetState::Asking); break;
    case 'm': target_tag_prompt(menu_minibuf); break;
    case 'g': target_goto_prompt(menu_minibuf); break;
    case 'n': target_send_names(false); break;
    case 'N': target_send_names(true); break;
    case 'l': target_line_prompt(menu_minibuf); break;
    case 'w':
        if (!wall_set_on(!wall_on()))
            redraw_set_note("No room for the wall: the screen is too narrow", kAttrError);
        break;
    case 'W':
        wall_next_filter();
        if (!wall_on()) redraw_set_note("No room for the wall: the screen is too narrow", kAttrError);
        break;
    default: break;
    }
    return false;
}
