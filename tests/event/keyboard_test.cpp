// The keyboard's bytes decoded: keys however the reads were cut, pastes whole and never taken for keys,
// sequences curses does not know taken whole.
#include "event/keyboard.h"

#include <curses.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "screen/screen.h"
#include "support/curses_screen.h"

namespace {

// An event as the table writes it: a key by its curses name or its byte, a paste by its text (or its
// length when long), "+" after a piece that more of the paste follows.
std::string describe(const KeyEvent &ev)
{
    auto bytes = [](const std::string &text) {
        if (text.size() > 32) return "(" + std::to_string(text.size()) + ")";
        std::string out;
        for (unsigned char c : text) {
            char buf[8];
            std::snprintf(buf, sizeof buf, c >= 32 && c < 127 ? "%c" : "\\x%02x", c);
            out += buf;
        }
        return out;
    };
    switch (ev.kind) {
    case KeyEvent::Kind::Key:
        if (ev.key < 256) return bytes(std::string(1, static_cast<char>(ev.key)));
        return keyname(ev.key);
    case KeyEvent::Kind::Paste: return "paste[" + bytes(ev.text) + "]" + (ev.last ? "" : "+");
    case KeyEvent::Kind::Unknown: return "unknown[" + bytes(ev.text) + "]";
    default: return "";
    }
}

struct Read {
    std::string bytes;
    long at_ms;
};

// Feeds each read at its time and takes every event it makes; a second after the last read, whatever
// still waited is decided.
std::string decode(const std::vector<Read> &reads)
{
    KeyDecoder d;
    std::string out;
    auto take = [&](long now) {
        for (KeyEvent ev; (ev = keyboard_next(d, now)).kind != KeyEvent::Kind::None;)
            out += (out.empty() ? "" : " ") + describe(ev);
    };
    long now = 0;
    for (const Read &r : reads) {
        now = r.at_ms;
        take(now);
        keyboard_feed(d, r.bytes.data(), r.bytes.size(), now);
        take(now);
    }
    take(now + 1000);
    return out;
}

TEST(Keyboard, KeysPastesAndUnknownSequencesWhateverTheReads)
{
    CursesScreen screen(25, 80);
    screen_setup(false);
    const std::string big(256 * 1024 + 10, 'x');
    struct Case {
        const char *what;
        std::vector<Read> reads;
        std::string events;
    };
    const Case cases[] = {
        {"a key right after a paste", {{"\x1b[200~abc\x1b[201~\x1bOR", 0}}, "paste[abc] KEY_F(3)"},
        {"two pastes in one read", {{"\x1b[200~a\x1b[201~\x1b[200~b\x1b[201~", 0}}, "paste[a] paste[b]"},
        {"a paste holding a function key's bytes",
         {{"\x1b[200~\x1bOP\r\x1b[201~", 0}},
         "paste[\\x1bOP\\x0d]"},
        {"the closing bracket cut between reads", {{"\x1b[200~ab\x1b[2", 0}, {"01~x", 10}}, "paste[ab] x"},
        {"a paste with no closing bracket ends when quiet", {{"\x1b[200~abc", 0}}, "paste[abc]"},
        {"a long paste in pieces",
         {{"\x1b[200~" + big + "\x1b[20", 0}, {"1~", 5}},
         "paste[(262144)]+ paste[xxxxxxxxxx]"},
        {"Alt with Enter, whole", {{"\x1b\r", 0}}, "unknown[\\x1b\\x0d]"},
        {"Alt with a letter, whole",
         {{"\x1b"
           "b",
           0}},
         "unknown[\\x1bb]"},
        {"a control sequence no key has, whole", {{"\x1b[99;5~x", 0}}, "unknown[\\x1b[99;5~] x"},
        {"a lone Escape once the delay passed", {{"\x1b", 0}}, "\\x1b"},
        {"an Escape then a key", {{"\x1b\x1bOP", 0}}, "\\x1b KEY_F(1)"},
        {"a key cut between reads", {{"\x1bO", 0}, {"R", 5}}, "KEY_F(3)"},
        {"Home and End as other terminals send them",
         {{"\x1b[1~\x1b[4~\x1b[7~\x1bOH", 0}},
         "KEY_HOME KEY_END KEY_HOME KEY_HOME"},
        {"keys in one read", {{"a\x1b[A\x7f\x1b[15~", 0}}, "a KEY_UP KEY_BACKSPACE KEY_F(5)"},
        {"UTF-8 as its bytes", {{"\xc3\xa9", 0}}, "\\xc3 \\xa9"},
    };
    for (const Case &c : cases) EXPECT_EQ(decode(c.reads), c.events) << c.what;
}

} // namespace
