// The F1 menu and the help popup: bordered windows in the middle of the screen, one key each.
#include "dialogs/menu.h"

#include <memory>
#include <string>

#include "dialogs/compareview.h"
#include "dialogs/minibuf.h"
#include "dialogs/scrollview.h"
#include "dialogs/wait.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/window.h"

namespace {

constexpr int kHelpRows = 25, kHelpCols = 80;
constexpr int kMenuCols = 45;

constexpr size_t kNameSize = 15; // room for 14 characters

// "{" and "}" switch to and from the highlight; they are not shown.
const char *const kHelpText = "Quillor allows you to ssh into several machines at once. The list on the\n"
                              "shows the machines you are logged into. Every key you type will be sent\n"
                              "to the currently selected machine, except the following {control keys}:\n"
                              "\n"
                              "{F1}: brings up a menu of extended options (including {quit})\n"
                              "{F2} and {F3}: move between machines on the list. The terminal window\n"
                              "      on the right shows the display of the currently selected machine.\n"
                              "{F4}: tag current machine. This will put a mark on the machine's name.\n"
                              "      The mark by itself does nothing, but some features operate on\n"
                              "      'all tagged machines', so this is a way to indicate which machines\n"
                              "      they are to operate on. The {F1} menu has additional tag commands.\n"
                              "{F5}: allows you to add a machine to the list. You can either supply the\n"
                              "      name of the machine you want to add, or type {@file} where {file}\n"
                              "      is the name of a file that contains machine names one per line,\n"
                              "      in which case all machines in that file will be added.\n"
                              "{F6}: delete current machine. If you want to delete multiple machines,\n"
                              "      you can also tag them and choose {delete all tagged machines} from\n"
                              "      the {F1} menu.\n"
                              "{F7}: toggles between {singlecast} and {multicast} mode. In singlecast\n"
                              "      mode, the keys you type will be directed to the currently selected\n"
                              "      machine, regardless of tags. When {multicast} is selected, the\n"
                              "      keys will be sent to {all tagged machines}, allowing you to operate\n"
                              "      on several machines at once.\n";

const char *const kMenuText = "{[h]} online help\n"
                              "{[r]} rename machine\n"
                              "{[o]} toggle tag all machines (live only)\n"
                              "{[O]} toggle tag all machines (live & dead)\n"
                              "{[t]} tag all machines (live only)\n"
                              "{[T]} tag all machines (live & dead)\n"
                              "{[u]} untag all machines\n"
                              "{[z]} delete dead machines\n"
                              "{[d]} delete all TAGGED machines\n"
                              "{[X]} delete all machines\n"
                              "{[q]} quit application\n"
                              "{[R]} reconnect dead machines\n"
                              "{[s]} scroll back selected machine\n"
                              "{[c]} compare answers\n";

WINDOW *menu_minibuf = nullptr;

// Writes text from row 1, column 1, following its braces and line breaks.
void write_marked_up(WINDOW *win, const char *text)
{
    wmove(win, 1, 1);
    for (const char *p = text; *p; ++p) {
        switch (*p) {
        case '{': set_color(win, kAttrHighlight); break;
        case '}': set_color(win, kAttrPopup); break;
        case '\n': wmove(win, getcury(win) + 1, 1); break;
        default: waddch(win, static_cast<unsigned char>(*p)); break;
        }
    }
}

// A bordered, captioned popup in the middle of the screen, holding the text; the menu's also asks for
// its key on a line below the items.
struct PopupBox {
    int rows, cols;
    const char *caption;
    const char *text;
    bool asks;
    WindowPtr win; // null when curses could not make the window; the caller still waits for its key
};

void popup_draw(PopupBox &box)
{
    WINDOW *win = box.win.get();
    werase(win);
    set_color(win, kAttrPopup);
    fill_window(win, ' ');
    wborder(win, 0, 0, 0, 0, 0, 0, 0, 0);
    mvwaddstr(win, 0, 3, box.caption);
    write_marked_up(win, box.text);
    if (box.asks) {
        // One row below the row after the last item, leaving a blank row between.
        wmove(win, getcury(win) + 1, 1);
        set_color(win, kAttrHighlight);
        waddstr(win, "Select an option: ");
    }
}

void popup_open(PopupBox &box)
{
    box.win = window_new(box.rows, box.cols, (LINES - box.rows) / 2, (COLS - box.cols) / 2);
    if (box.win) popup_draw(box);
}

// The items from row 1, a blank row, the question, and the border around them: the popup grows with
// the items.
int menu_rows()
{
    int items = 0;
    for (const char *p = kMenuText; *p; ++p)
        if (*p == '\n') ++items;
    return items + 4;
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

// The popup's key: machines keep running behind it meanwhile.
int popup_key(PopupBox &box)
{
    WaitDialog dialog(paint_popup, &box);
    wait_repaint();
    int key;
    while ((key = wait_key()) == ERR) {
    }
    return key;
}

bool confirm(const char *question)
{
    return minibuf_confirm(menu_minibuf, question, kAttrQuestion);
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
    PopupBox box{kHelpRows, kHelpCols, "[ Help ]", kHelpText, false, nullptr};
    popup_open(box);
    popup_key(box);
}

bool menu_show()
{
    PopupBox box{menu_rows(), kMenuCols, "[ Menu ]", kMenuText, true, nullptr};
    popup_open(box);
    int key = popup_key(box);
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
    default: break;
    }
    return false;
}
