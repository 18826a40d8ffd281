// Turning the bytes of the user's keyboard into keys, pastes and unknown sequences.
#include "event/keyboard.h"

#include <curses.h>

#include "base/utf8.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr char kEsc = '\033';
constexpr std::string_view kPasteBegin = "\033[200~", kPasteEnd = "\033[201~";
// A longer paste is handed on in pieces of this size, so memory stays bounded.
constexpr size_t kPastePiece = 256 * 1024;
// A paste whose closing bracket never comes ends after this much quiet.
constexpr int kPasteQuietMs = 300;
// No key a terminal sends is longer; a longer run of sequence bytes is cut here.
constexpr size_t kMaxKeyBytes = 32;

bool is_final(unsigned char c)
{
    return c >= 0x40 && c <= 0x7E;
}

// The length of the escape sequence at the front of `s` (which starts with ESC) by its syntax alone: a
// control sequence to its final byte, ESC O and one byte, ESC with intermediates and a final byte, or ESC
// before one character (Alt with a key). `complete` is false when the bytes
// end inside it; a byte that no sequence holds ends it before that byte.
size_t syntax_length(std::string_view s, bool &complete)
{
    complete = false;
    if (s.size() < 2) return s.size();
    auto c = static_cast<unsigned char>(s[1]);
    if (c == '[') {
        size_t i = 2;
        while (i < s.size() && s[i] >= 0x30 && s[i] <= 0x3F) ++i;
        while (i < s.size() && s[i] >= 0x20 && s[i] <= 0x2F) ++i;
        if (i == s.size()) return i;
        complete = true;
        return is_final(static_cast<unsigned char>(s[i])) ? i + 1 : i;
    }
    if (c == 'O') {
        if (s.size() < 3) return 2;
        complete = true;
        return s[2] >= 0x20 && s[2] <= 0x7E ? 3 : 2;
    }
    if (c >= 0x20 && c <= 0x2F) {
        size_t i = 2;
        while (i < s.size() && s[i] >= 0x20 && s[i] <= 0x2F) ++i;
        if (i == s.size()) return i;
        complete = true;
        return s[i] >= 0x30 && s[i] <= 0x7E ? i + 1 : i;
    }
    size_t n = 1 + utf8_length(c);
    complete = s.size() >= n;
    return std::min(n, s.size());
}

// The key curses knows for the bytes at the front of `s` (which starts with ESC): its code and length,
// or 0 when no key it knows starts them. `more` is set when the bytes end inside a key it knows.
int known_key(std::string_view s, size_t &length, bool &more)
{
    more = false;
    std::string prefix(1, kEsc);
    for (size_t j = 2; j <= std::min(s.size(), kMaxKeyBytes); ++j) {
        prefix.push_back(s[j - 1]);
        int code = key_defined(prefix.c_str());
        if (code > 0) {
            length = j;
            return code;
        }
        if (code == 0) return 0;
        more = j == s.size();
    }
    return 0;
}

KeyEvent key_event(int key)
{
    KeyEvent ev;
    ev.kind = KeyEvent::Kind::Key;
    ev.key = key;
    return ev;
}

KeyEvent take_front(KeyDecoder &d, KeyEvent::Kind kind, size_t length)
{
    KeyEvent ev;
    ev.kind = kind;
    ev.text = d.pending.substr(0, length);
    d.pending.erase(0, length);
    return ev;
}

// The next piece of the paste being read, or None while it waits for more.
KeyEvent paste_next(KeyDecoder &d, long now_ms)
{
    // The closing bracket may have been split between two reads: look from just before the new bytes.
    size_t from = d.paste.size() >= kPasteEnd.size() ? d.paste.size() - kPasteEnd.size() + 1 : 0;
    d.paste += d.pending;
    d.pending.clear();
    KeyEvent ev;
    ev.kind = KeyEvent::Kind::Paste;
    ev.first = !d.paste_started;
    size_t end = d.paste.find(kPasteEnd, from);
    if (end != std::string::npos) {
        // What came after the paste is keys again, decoded as any others.
        d.pending = d.paste.substr(end + kPasteEnd.size());
        d.paste.resize(end);
    } else if (d.paste.size() >= kPastePiece) {
        // Kept back: what may be the start of the closing bracket, at the end of what came.
        size_t cut = kPastePiece;
        if (cut == d.paste.size())
            for (size_t k = kPasteEnd.size() - 1; k > 0 && cut == d.paste.size(); --k)
                if (std::string_view(d.paste).ends_with(kPasteEnd.substr(0, k))) cut -= k;
        ev.text = d.paste.substr(cut);
        d.paste.resize(cut);
        ev.text.swap(d.paste);
        ev.last = false;
        d.paste_started = true;
        return ev;
    } else if (now_ms - d.paste_last_ms < kPasteQuietMs) {
        return KeyEvent{};
    }
    // Ended by its bracket, or by quiet when no bracket came: nothing of it is lost either way.
    ev.text.swap(d.paste);
    d.paste.clear();
    d.in_paste = false;
    d.paste_started = false;
    return ev;
}

} // namespace

void keyboard_feed(KeyDecoder &d, const char *bytes, size_t len, long now_ms)
{
    if (len == 0) return;
    d.pending.append(bytes, len);
    d.paste_last_ms = now_ms;
}

KeyEvent keyboard_next(KeyDecoder &d, long now_ms)
{
    if (d.in_paste) {
        KeyEvent ev = paste_next(d, now_ms);
        // A paste whose end came right after a full piece has nothing more to say.
        if (ev.kind != KeyEvent::Kind::Paste || !ev.text.empty() || ev.first) return ev;
    }
    if (d.pending.empty()) return KeyEvent{};
    auto c = static_cast<unsigned char>(d.pending[0]);
    if (c != static_cast<unsigned char>(kEsc)) {
        d.waiting_since = -1;
        d.pending.erase(0, 1);
        // A control byte may be a key of the terminal's own (its Backspace, say).
        if (c < 0x20 || c == 0x7F) {
            char one[2] = {static_cast<char>(c), 0};
            int code = key_defined(one);
            if (code > 0) return key_event(code);
        }
        return key_event(c);
    }
    std::string_view s(d.pending);
    // Two in a row are an Escape and whatever the second starts, as curses has always read them (a key
    // typed quickly after Escape is that key, not an Alt with it).
    if (s.size() >= 2 && s[1] == kEsc) {
        d.waiting_since = -1;
        d.pending.erase(0, 1);
        return key_event(kEsc);
    }
    if (s.starts_with(kPasteBegin)) {
        d.waiting_since = -1;
        d.pending.erase(0, kPasteBegin.size());
        d.in_paste = true;
        d.paste_started = false;
        d.paste_last_ms = now_ms;
        return keyboard_next(d, now_ms);
    }
    size_t length = 0;
    bool more = false;
    int code = known_key(s, length, more);
    bool complete = false;
    size_t syntax = syntax_length(s, complete);
    if (code > 0 && !more) {
        d.waiting_since = -1;
        d.pending.erase(0, length);
        return key_event(code);
    }
    if (more || !complete || kPasteBegin.starts_with(s)) {
        // The rest of the key may still be on its way: wait for it, as long as curses would.
        if (d.waiting_since < 0) d.waiting_since = now_ms;
        if (now_ms - d.waiting_since < get_escdelay()) return KeyEvent{};
        d.waiting_since = -1;
        // Nothing more came: a lone Escape, or whatever part of a sequence came.
        if (s.size() == 1) {
            d.pending.erase(0, 1);
            return key_event(kEsc);
        }
        return take_front(d, KeyEvent::Kind::Unknown, s.size());
    }
    d.waiting_since = -1;
    return take_front(d, KeyEvent::Kind::Unknown, syntax);
}

int keyboard_due_ms(const KeyDecoder &d, long now_ms)
{
    if (d.in_paste) return static_cast<int>(std::max(0L, d.paste_last_ms + kPasteQuietMs - now_ms));
    if (d.waiting_since < 0) return -1;
    return static_cast<int>(std::max(0L, d.waiting_since + get_escdelay() - now_ms));
}

bool keyboard_in_paste(const KeyDecoder &d)
{
    return d.in_paste;
}
