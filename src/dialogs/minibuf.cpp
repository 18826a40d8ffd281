// The bottom line's dialogs: a line prompt with simple editing, an error that waits, a message.
#include "dialogs/minibuf.h"

#include "screen/colors.h"

namespace
{

constexpr int kCtrlC = 3, kCtrlG = 7, kCtrlH = 8, kCtrlJ = 10, kCtrlM = 13, kCtrlU = 21;
constexpr int kEscape = 27, kDelete = 127;

// Erases the line and writes the message, if any, from its first column.
void show_line(WINDOW *win, const char *message, int attribute)
{
    werase(win);
    wmove(win, 0, 0);
    if (message) {
        set_color(win, attribute);
        waddstr(win, message);
    }
}

// Reads keys from the standard screen until one arrives; the 200 ms time-outs in between are not keys.
int read_key()
{
    int key;
    do
        key = wgetch(stdscr);
    while (key < 0);
    return key;
}

} // namespace

bool minibuf_prompt(WINDOW *win, const char *prompt, int attribute, std::string &text, size_t bufsize)
{
    for (;;) {
        // Drawn afresh on every time-out as well; refresh sends nothing when the line is unchanged.
        show_line(win, prompt, attribute);
        set_color(win, kAttrText);
        // A line too long for the window stops at its last column; the text keeps every byte.
        waddnstr(win, text.c_str(), static_cast<int>(text.size()));
        wrefresh(win);

        int key = wgetch(stdscr);
        if (key < 0) continue;

        switch (key) {
        case kCtrlC:
        case kCtrlG:
        case kEscape:
        case kCtrlJ:
        case kCtrlM:
            werase(win);
            wrefresh(win);
            return key == kCtrlJ || key == kCtrlM;
        case kCtrlH:
        case kDelete:
        case KEY_BACKSPACE:
            if (!text.empty()) text.pop_back();
            break;
        case kCtrlU:
            text.clear();
            break;
        default:
            // A byte string: 128-255 are kept as single bytes, so UTF-8 arrives whole, one byte a key.
            bool printable = (key >= 32 && key <= 126) || (key >= 128 && key <= 255);
            if (printable && text.size() + 1 < bufsize) text.push_back(static_cast<char>(key));
            break;
        }
    }
}

void minibuf_error(WINDOW *win, const char *message, int attribute)
{
    show_line(win, message, attribute);
    wrefresh(win);
    read_key();
    // No refresh: the message stays visible until the window is next drawn, and wclear makes that
    // drawing repaint the whole physical screen.
    wclear(win);
}

void minibuf_message(WINDOW *win, const char *message, int attribute)
{
    show_line(win, message, attribute);
    wrefresh(win);
}
