// The bottom line's dialogs: a line prompt with simple editing, an error that waits, a message.
#include "event/keys.h"
#include "dialogs/minibuf.h"

#include "base/utf8.h"

#include "event/wait.h"
#include "screen/colors.h"
#include "screen/panel.h"
#include "screen/redraw.h"

namespace {

constexpr size_t kAnswerSize = 2; // room for one character

// Erases the line and writes the message, if any, from its first column. A prompt can hold a machine's
// name ("To <name>: "), cleaned as the panels clean names.
void show_line(WINDOW *win, const char *message, int attribute)
{
    werase(win);
    wmove(win, 0, 0);
    if (message) {
        set_color(win, attribute);
        panel_put_text(win, message, getmaxx(win));
    }
}

struct Prompt {
    WINDOW *win;
    const char *prompt;
    int attribute;
    const std::string *text;
};

// Drawn over the panels whenever the wait repaints them; the line is the last window refreshed, so the
// cursor stands at the input position, and shown even when a machine's program hid it.
void paint_prompt(void *ctx)
{
    const Prompt &p = *static_cast<const Prompt *>(ctx);
    show_line(p.win, p.prompt, p.attribute);
    set_color(p.win, kAttrText);
    // A line too long for the window stops at its last column; the text keeps every byte. It is shown
    // cleaned as names are, which it may become.
    panel_put_text(p.win, *p.text, getmaxx(p.win) - getcurx(p.win));
    redraw_show_cursor(true);
    wnoutrefresh(p.win);
}

struct Message {
    WINDOW *win;
    const char *text;
    int attribute;
};

void paint_message(void *ctx)
{
    const Message &m = *static_cast<const Message *>(ctx);
    show_line(m.win, m.text, m.attribute);
    wnoutrefresh(m.win);
}

// The length of the last character of the text: a lead byte with its continuation bytes, or one byte
// where the text is not UTF-8 there.
size_t last_char_length(const std::string &text)
{
    size_t n = 1;
    while (n < text.size() && n < 4 &&
           utf8_is_continuation(static_cast<unsigned char>(text[text.size() - n])))
        ++n;
    return utf8_length(static_cast<unsigned char>(text[text.size() - n])) == n ? n : 1;
}

// Adds typed bytes to the text within its limit. The limit counts bytes, but a UTF-8 character that
// does not fit whole is left out whole: its lead byte and its continuation bytes.
struct TextInput {
    std::string &text;
    size_t bufsize;
    size_t skip = 0; // continuation bytes of a character left out

    void add(unsigned char byte)
    {
        if (skip > 0 && utf8_is_continuation(byte)) {
            --skip;
            return;
        }
        skip = 0;
        size_t need = utf8_length(byte);
        if (text.size() + need < bufsize) {
            text.push_back(static_cast<char>(byte));
        } else if (need > 1) {
            skip = need - 1;
        }
    }
};

bool printable(int byte)
{
    return (byte >= 32 && byte <= 126) || (byte >= 128 && byte <= 255);
}

} // namespace

bool minibuf_prompt(WINDOW *win, const char *prompt, int attribute, std::string &text, size_t bufsize)
{
    Prompt p{win, prompt, attribute, &text};
    TextInput input{text, bufsize};
    bool accepted = false;
    {
        WaitDialog dialog(paint_prompt, &p);
        for (;;) {
            wait_repaint();
            int key = wait_key();
            bool done = false;
            switch (key) {
            case kCtrlC:
            case kCtrlG:
            case kEscape:
            case kCtrlJ:
            case kCtrlM:
                accepted = key == kCtrlJ || key == kCtrlM;
                done = true;
                break;
            case kCtrlH:
            case kDelete:
            case KEY_BACKSPACE:
                // One whole character, not one byte of it.
                if (!text.empty()) text.resize(text.size() - last_char_length(text));
                input.skip = 0;
                break;
            case kCtrlU:
                text.clear();
                input.skip = 0;
                break;
            case kKeyPaste:
                // Pasted text is typed in, without its line breaks and other control bytes.
                for (char c : wait_paste_text())
                    if (printable(static_cast<unsigned char>(c))) input.add(static_cast<unsigned char>(c));
                break;
            default:
                // A byte string: 128-255 are kept as single bytes, so UTF-8 arrives whole, one byte a key.
                if (printable(key)) input.add(static_cast<unsigned char>(key));
                break;
            }
            if (done) break;
        }
    }
    werase(win);
    wrefresh(win);
    return accepted;
}

bool minibuf_confirm(WINDOW *win, const char *question, int attribute)
{
    std::string answer;
    return minibuf_prompt(win, question, attribute, answer, kAnswerSize) && !answer.empty() &&
           (answer[0] & ~0x20) == 'Y';
}

void minibuf_error(WINDOW *win, const char *message, int attribute)
{
    Message m{win, message, attribute};
    int key;
    {
        WaitDialog dialog(paint_message, &m);
        wait_repaint();
        // A paste is one key too: it answers the message and is dropped.
        while ((key = wait_key()) == ERR) {
        }
    }
    // The user went on working (F5 to add the right file): the key does what it says, or what they
    // type next for its prompt would go to the machines.
    if (key >= KEY_F(1) && key <= KEY_F(7)) wait_unread_key(key);
    // No refresh: the message stays visible until the window is next drawn, and wclear makes that
    // drawing repaint the whole physical screen.
    wclear(win);
}
