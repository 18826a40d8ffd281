// What the prompt fuzzer checks for each input, shared with the test that replays its kept inputs.
#include <curses.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dialogs/minibuf.h"
#include "event/wait.h"
#include "screen/colors.h"
#include "support/fuzz_checks.h"

namespace {

struct WindowDeleter {
    void operator()(WINDOW *win) const { delwin(win); }
};
using Window = std::unique_ptr<WINDOW, WindowDeleter>;

struct PromptUse {
    size_t bufsize;
    const char *prompt;
    int attribute;
};
constexpr PromptUse kPrompts[] = {
    {2, "Really quit application [y/n]?", kAttrQuestion},
    {15, "Enter new machine name: ", kAttrQuestion},
    {64, "Add: ", kAttrPrompt},
};
// Keys per prompt, its closing Enter after them.
constexpr size_t kChunkKeys = 100;
constexpr int kEnter = 13;

// What the prompt must make of the keys: which one ends it, with what result and what text.
struct Expected {
    size_t end;
    bool accepted;
    std::string text;
};

// The length of a UTF-8 character from its first byte; 1 for a byte that begins none.
size_t utf8_length(unsigned char b)
{
    return b >= 0xF8 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
}

// What the prompt should do with the keys: Backspace removes a whole UTF-8 character (one byte where
// the end is not one), and a character that does not fit the buffer is left out with all its bytes.
Expected expected_prompt(const std::vector<int> &keys, std::string text, size_t bufsize)
{
    size_t skip = 0; // continuation bytes of a character left out
    for (size_t i = 0; i < keys.size(); ++i) {
        int k = keys[i];
        if (k == 3 || k == 7 || k == 27) return {i, false, text};
        if (k == 10 || k == 13) return {i, true, text};
        if (k == 8 || k == 127 || k == KEY_BACKSPACE) {
            skip = 0;
            if (text.empty()) continue;
            size_t tail = 0;
            while (tail < 3 && tail < text.size() - 1 &&
                   (static_cast<unsigned char>(text[text.size() - 1 - tail]) & 0xC0) == 0x80)
                ++tail;
            bool whole = utf8_length(static_cast<unsigned char>(text[text.size() - 1 - tail])) == tail + 1;
            text.resize(text.size() - (whole ? tail + 1 : 1));
        } else if (k == 21) {
            skip = 0;
            text.clear();
        } else if ((k >= 32 && k <= 126) || (k >= 128 && k <= 255)) {
            auto b = static_cast<unsigned char>(k);
            if (skip > 0 && (b & 0xC0) == 0x80) {
                --skip;
                continue;
            }
            skip = 0;
            size_t need = utf8_length(b);
            if (text.size() + need < bufsize)
                text.push_back(static_cast<char>(b));
            else if (need > 1)
                skip = need - 1;
        }
    }
    return {keys.size(), false, text};
}

std::string printable(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char ch : s) {
        if (ch >= 32 && ch < 127 && ch != '"' && ch != '\\') {
            out += static_cast<char>(ch);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", ch);
            out += buf;
        }
    }
    return out + "\"";
}

WINDOW *minibuf_window()
{
    static Window win(newwin(1, COLS, LINES - 1, 0));
    return win.get();
}

} // namespace

std::string fuzz_check_prompt(const uint8_t *data, size_t size)
{
    fuzz_screen_once();
    if (size == 0) return {};
    const PromptUse &use = kPrompts[data[0] % std::size(kPrompts)];
    std::vector<int> keys;
    for (size_t i = 1; i + 1 < size; i += 2)
        keys.push_back(static_cast<int>((data[i] | data[i + 1] << 8) % 513) - 1);
    WINDOW *win = minibuf_window();

    // Each chunk is one prompt, ended by Enter if by nothing before; the next prompt starts from the
    // text the last one left, as an initial text is edited from its end.
    std::string text;
    size_t start = 0;
    do {
        std::vector<int> chunk(keys.begin() + static_cast<long>(start),
                               keys.begin() + static_cast<long>(std::min(keys.size(), start + kChunkKeys)));
        chunk.push_back(kEnter);
        // Put back, they are read first; the last one put back comes first.
        for (auto k = chunk.rbegin(); k != chunk.rend(); ++k) wait_unread_key(*k);

        Expected want = expected_prompt(chunk, text, use.bufsize);
        std::string before = text;
        bool accepted = minibuf_prompt(win, use.prompt, use.attribute, text, use.bufsize);
        std::string where = "prompt from key " + std::to_string(start) + " with " + printable(before) + ": ";
        if (accepted != want.accepted)
            return where + (accepted ? "accepted" : "cancelled") + " at key " +
                   std::to_string(start + want.end);
        if (text.size() >= use.bufsize)
            return where + "text of " + std::to_string(text.size()) + " bytes in a buffer of " +
                   std::to_string(use.bufsize);
        if (text != want.text)
            return where + "text " + printable(text) + ", should be " + printable(want.text);
        for (int col = 0; col < getmaxx(win); ++col)
            if ((mvwinch(win, 0, col) & A_CHARTEXT) != ' ')
                return where + "line not blank at column " + std::to_string(col);
        // Keys after the ending one are the main loop's, not the prompt's.
        for (size_t i = want.end + 1; i < chunk.size(); ++i) {
            if (chunk[i] == ERR) continue; // no key: nothing to put back
            int k = wait_key_now();
            if (k != chunk[i])
                return where + "key " + std::to_string(start + i) + " (" + std::to_string(chunk[i]) +
                       ") was eaten; read " + std::to_string(k);
        }
        if (int k = wait_key_now(); k != -1)
            return where + "read " + std::to_string(k) + " after the last key";
        start += kChunkKeys;
    } while (start < keys.size());
    return {};
}
