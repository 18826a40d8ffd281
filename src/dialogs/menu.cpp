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

namespace
{

constexpr int kHelpRows = 25, kHelpCols = 80;
constexpr int kMenuCols = 45;

constexpr size_t kNameSize = 15;  // room for 14 characters

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
        case '{':
            set_color(win, kAttrHighlight);
            break;
        case '}':
            set_color(win, kAttrPopup);
            break;
        case '\n':
            wmove(win, getcury(win) + 1, 1);
            break;
        default:
            waddch(win, static_cast<unsigned char>(*p));
            break;
        }
    }
}

// A bordered, captioned popup centred on the screen, holding the text. Null when curses cannot make
// the window; the caller still waits for its key.
WindowPtr popup_open(int rows, int cols, const char *caption, const char *text)
{
    WindowPtr win = window_new(rows, cols, (LINES - rows) / 2, (COLS - cols) / 2);
    if (!win) return win;
    werase(win.get());
    set_color(win.get(), kAttrPopup);
    fill_window(win.get(), ' ');
    wborder(win.get(), 0, 0, 0, 0, 0, 0, 0, 0);
    mvwaddstr(win.get(), 0, 3, caption);
    write_marked_up(win.get(), text);
    return win;
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

// Kept on top of the panels that the wait repaints behind it.
void paint_popup(void *ctx)
{
    auto *win = static_cast<WINDOW *>(ctx);
    if (!win) return;
    touchwin(win);
    wnoutrefresh(win);
}

// The popup's key: machines keep running behind it meanwhile.
int popup_key(WINDOW *win)
{
    WaitDialog dialog(paint_popup, win);
    wait_repaint();
    int key;
    while ((key = wait_key()) == ERR) {
    }
    return key;
}

bool confirm(const char *question) { return minibuf_confirm(menu_minibuf, question, kAttrQuestion); }

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
    WindowPtr win = popup_open(kHelpRows, kHelpCols, "[ Help ]", kHelpText);
    popup_key(win.get());
}

bool menu_show()
{
    WindowPtr win = popup_open(menu_rows(), kMenuCols, "[ Menu ]", kMenuText);
    if (win) {
        // One row below the row after the last item, leaving a blank row between.
        wmove(win.get(), getcury(win.get()) + 1, 1);
        set_color(win.get(), kAttrHighlight);
        waddstr(win.get(), "Select an option: ");
    }
    int key = popup_key(win.get());
    if (key == 's') {
        // The view takes the terminal panel and the bottom line: the menu closes first.
        win.reset();
        scrollview_show();
        return false;
    }
    if (key == 'c') {
        win.reset();
        compareview_show();
        return false;
    }
    // The menu stays up, under a question it asks, until the command is done.
    WaitDialog dialog(paint_popup, win.get());
    switch (key) {
    case 'h':
        help_show();
        break;
    case 'r':
        rename_selected();
        break;
    case 'o':
        mlist_toggle_tag_all(true);
        break;
    case 'O':
        mlist_toggle_tag_all(false);
        break;
    case 't':
        mlist_tag_all(true);
        break;
    case 'T':
        mlist_tag_all(false);
        break;
    case 'u':
        mlist_untag_all();
        break;
    case 'z':
        mlist_delete_dead();
        break;
    case 'd':
        if (confirm("Really delete all TAGGED machines [y/n]?")) mlist_delete_tagged();
        break;
    case 'X':
        if (confirm("Really delete ALL machines [y/n]?")) mlist_delete_all();
        break;
    case 'q':
        return confirm("Really quit application [y/n]?");
    case 'R':
        mlist_reconnect_dead();
        break;
    default:
        break;
    }
    return false;
}
