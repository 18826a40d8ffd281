// The minibuffer's prompt, error and message, driven by keys typed at a real curses screen.
#include <string>
#include <vector>

#include "dialogs/dialog_screen.h"
#include "dialogs/minibuf.h"

namespace {

using Minibuffer = DialogScreen;

TEST_F(Minibuffer, PromptEditsTheTextAsTheKeysSay)
{
    struct Case {
        const char *what;
        std::string initial;
        size_t bufsize;
        std::string keys;
        bool accepted;
        std::string text;
    };
    std::string not_text = key("kf1") + key("kf5") + key("kf10") + key("kcuu1") + key("kcub1") + "\t" +
                           key("kent") + key("kdch1") + key("khome") + std::string("\x01\x00\x1f", 3);
    std::vector<Case> cases = {
        {"Enter accepts", "", 64, "abc\r", true, "abc"},
        {"Ctrl-J accepts", "", 64, "ab\n", true, "ab"},
        {"Enter on empty text accepts it", "", 64, "\r", true, ""},
        {"Escape cancels and keeps the text", "", 64, "abc\x1b", false, "abc"},
        {"Ctrl-C cancels", "", 64, "ab\x03", false, "ab"},
        {"Ctrl-G cancels", "", 64, "ab\x07", false, "ab"},
        {"Ctrl-H and the backspace key remove a byte each", "", 64,
         "abc\x08\x7f"
         "d\r",
         true, "ad"},
        {"editing keys on empty text keep waiting", "", 64, "\x08\x7f\x15\x08x\r", true, "x"},
        {"Ctrl-U removes the whole text", "", 64,
         "abc\x15"
         "de\r",
         true, "de"},
        {"initial text is edited from its end", "web", 64,
         "\x7f"
         "1\r",
         true, "we1"},
        {"size 2 takes one character", "", 2, "yes\r", true, "y"},
        {"size 2 takes another once the first is gone", "", 2,
         "ab\x7f"
         "c\r",
         true, "c"},
        {"size 15 takes fourteen", "", 15, "abcdefghijklmnopqrst\r", true, "abcdefghijklmn"},
        {"size 64 takes sixty-three", "", 64, std::string(70, 'x') + "\r", true, std::string(63, 'x')},
        {"function keys, arrows, Tab, keypad Enter and controls are ignored", "", 64, "a" + not_text + "b\r",
         true, "ab"},
        {"byte 233 is stored as typed", "", 64, "\xe9\r", true, "\xe9"},
        {"UTF-8 arrives byte by byte", "", 64, "caf\xc3\xa9\r", true, "caf\xc3\xa9"},
        {"bytes 128 and 255 are text", "", 64, "\x80\xff\r", true, "\x80\xff"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        discard_keys();
        screen_.type(c.keys);
        std::string text = c.initial;
        EXPECT_EQ(minibuf_prompt(minibuf_, "Add: ", kAttrPrompt, text, c.bufsize), c.accepted);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(leftover_key(), -1) << "keys after the ending one belong to nobody here";
    }
}

TEST_F(Minibuffer, PromptShowsPromptAndTextInTheirColoursThenLeavesABlankLine)
{
    for (const char *ending : {"\r", "\x1b"}) {
        std::string text;
        DialogThread prompt([&] { minibuf_prompt(minibuf_, "Add: ", kAttrPrompt, text, 64); });
        screen_.type("abc");
        EXPECT_TRUE(wait_row(24, "Add: abc ")) << screen_.terminal().row_text(24);
        const ScreenReader &t = screen_.terminal();
        for (int col = 0; col < 5; ++col) {
            ReadCell c = t.cell(24, col);
            EXPECT_EQ(c.fg, COLOR_CYAN) << col;
            EXPECT_EQ(c.bg, COLOR_BLACK) << col;
            EXPECT_TRUE(c.bold) << col;
        }
        // The typed text has no attributes at all: pair 0, which curses may send as white on black.
        for (int col = 5; col < 8; ++col) {
            ReadCell c = t.cell(24, col);
            EXPECT_TRUE(c.fg == -1 || c.fg == COLOR_WHITE) << col;
            EXPECT_TRUE(c.bg == -1 || c.bg == COLOR_BLACK) << col;
            EXPECT_FALSE(c.bold) << col;
        }
        EXPECT_EQ(t.cursor_row(), 24);
        EXPECT_EQ(t.cursor_col(), 8);
        screen_.type(ending);
        prompt.join();
        EXPECT_TRUE(wait_row(24, std::string(80, ' '))) << t.row_text(24);
    }
}

TEST_F(Minibuffer, ErrorWaitsForOneKeyAndStaysUntilTheWindowIsDrawnAgain)
{
    for (const char *message : {"Can't read that file.", static_cast<const char *>(nullptr)}) {
        std::string shown = message ? message : "";
        wclear(minibuf_);
        waddstr(minibuf_, "old text");
        wrefresh(minibuf_);
        DialogThread error([&] { minibuf_error(minibuf_, message, kAttrError); });
        EXPECT_TRUE(wait_row(24, shown + std::string(80 - shown.size(), ' ')))
            << screen_.terminal().row_text(24);
        if (message) {
            ReadCell c = screen_.terminal().cell(24, 0);
            EXPECT_EQ(c.fg, COLOR_WHITE);
            EXPECT_EQ(c.bg, COLOR_RED);
            EXPECT_TRUE(c.bold);
        }
        // Two time-outs go by without a key: the error must still be waiting.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_FALSE(error.done());
        screen_.type("kk");
        error.join();
        EXPECT_EQ(leftover_key(), 'k') << "exactly one key is taken";
        EXPECT_EQ(window_row(minibuf_, 0), std::string(80, ' '));
        EXPECT_TRUE(is_cleared(minibuf_));
        screen_.settle();
        EXPECT_EQ(screen_.terminal().row_text(24).substr(0, shown.size()), shown);
    }
}

// F1 to F7 at an error dismiss it and are left for the main loop to act on; any other key is dropped.
TEST_F(Minibuffer, ErrorLeavesAFunctionKeyOfTheProgramToBeReadAgain)
{
    const std::pair<const char *, int> cases[] = {
        {"kf1", KEY_F(1)}, {"kf5", KEY_F(5)}, {"kf7", KEY_F(7)}, {"kf8", 'k'}, {"kcuu1", 'k'}};
    for (const auto &[capability, next] : cases) {
        SCOPED_TRACE(capability);
        screen_.type(key(capability) + "k");
        minibuf_error(minibuf_, "Can't read that file.", kAttrError);
        EXPECT_EQ(leftover_key(), next);
        while (leftover_key() != ERR) {
        }
    }
}

} // namespace
