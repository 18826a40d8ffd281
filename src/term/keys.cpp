// What the user types, on its way to the child: curses key codes turned into the bytes a terminal
// sends for them, typed text and pastes.
#include <cstring>
#include <string>
#include <string_view>

#include "term/vt_internal.h"

namespace {

// Marks what libvterm writes meanwhile as the user's input rather than a reply to a query.
class Keying {
public:
    explicit Keying(TarvikVt *vt) : vt_(vt) { vt_->keying = true; }
    ~Keying() { vt_->keying = false; }
    Keying(const Keying &) = delete;
    Keying &operator=(const Keying &) = delete;

private:
    TarvikVt *vt_;
};

// An end bracket inside a bracketed paste would end it early, and the program would take the rest as
// typed: a pasted command would run. Removing one can join its neighbours into another, which goes too.
std::string without_end_brackets(std::string_view text)
{
    constexpr std::string_view kEnd = "\x1b[201~";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        out.push_back(c);
        if (std::string_view(out).ends_with(kEnd)) out.resize(out.size() - kEnd.size());
    }
    return out;
}

struct KeyMapping {
    VTermKey key;
    VTermModifier mod;
};

// ncurses names modified cursor keys after xterm's: "kLFT5" is Ctrl-Left, the digit being xterm's
// modifier parameter (2 Shift, 3 Alt, 5 Ctrl, ... : one more than the modifier bits libvterm uses).
bool modified_key(int code, KeyMapping &out)
{
    const char *name = keyname(code);
    if (!name) return false;
    static const struct {
        const char *prefix;
        VTermKey key;
    } names[] = {
        {"kUP", VTERM_KEY_UP},      {"kDN", VTERM_KEY_DOWN},      {"kLFT", VTERM_KEY_LEFT},
        {"kRIT", VTERM_KEY_RIGHT},  {"kHOM", VTERM_KEY_HOME},     {"kEND", VTERM_KEY_END},
        {"kPRV", VTERM_KEY_PAGEUP}, {"kNXT", VTERM_KEY_PAGEDOWN}, {"kDC", VTERM_KEY_DEL},
        {"kIC", VTERM_KEY_INS},
    };
    std::string_view n(name);
    for (const auto &entry : names) {
        std::string_view prefix(entry.prefix);
        if (n.size() != prefix.size() + 1 || n.substr(0, prefix.size()) != prefix) continue;
        char digit = n.back();
        if (digit < '2' || digit > '8') return false;
        out = {entry.key, static_cast<VTermModifier>(digit - '1')};
        return true;
    }
    return false;
}

bool special_key(int code, KeyMapping &out)
{
    const VTermModifier none = VTERM_MOD_NONE;
    switch (code) {
    case KEY_UP: out = {VTERM_KEY_UP, none}; return true;
    case KEY_DOWN: out = {VTERM_KEY_DOWN, none}; return true;
    case KEY_LEFT: out = {VTERM_KEY_LEFT, none}; return true;
    case KEY_RIGHT: out = {VTERM_KEY_RIGHT, none}; return true;
    case KEY_HOME: out = {VTERM_KEY_HOME, none}; return true;
    case KEY_END: out = {VTERM_KEY_END, none}; return true;
    case KEY_PPAGE: out = {VTERM_KEY_PAGEUP, none}; return true;
    case KEY_NPAGE: out = {VTERM_KEY_PAGEDOWN, none}; return true;
    case KEY_IC: out = {VTERM_KEY_INS, none}; return true;
    case KEY_DC: out = {VTERM_KEY_DEL, none}; return true;
    case KEY_ENTER: out = {VTERM_KEY_KP_ENTER, none}; return true;
    case KEY_BTAB: out = {VTERM_KEY_TAB, VTERM_MOD_SHIFT}; return true;
    case KEY_SR: out = {VTERM_KEY_UP, VTERM_MOD_SHIFT}; return true;
    case KEY_SF: out = {VTERM_KEY_DOWN, VTERM_MOD_SHIFT}; return true;
    case KEY_SLEFT: out = {VTERM_KEY_LEFT, VTERM_MOD_SHIFT}; return true;
    case KEY_SRIGHT: out = {VTERM_KEY_RIGHT, VTERM_MOD_SHIFT}; return true;
    case KEY_SHOME: out = {VTERM_KEY_HOME, VTERM_MOD_SHIFT}; return true;
    case KEY_SEND: out = {VTERM_KEY_END, VTERM_MOD_SHIFT}; return true;
    case KEY_SDC: out = {VTERM_KEY_DEL, VTERM_MOD_SHIFT}; return true;
    default: break;
    }
    if (code >= KEY_F(1) && code <= KEY_F(12)) {
        out = {static_cast<VTermKey>(VTERM_KEY_FUNCTION(code - KEY_F0)), none};
        return true;
    }
    return modified_key(code, out);
}

} // namespace

void tarvik_vt_keypress(TarvikVt *vt, int key)
{
    if (!vt || !vt->master.valid() || key < 0) return;
    if (key < 256) {
        // The byte itself: typed UTF-8 passes through byte by byte, control characters too.
        char c = static_cast<char>(key);
        pty_send(vt, &c, 1);
        return;
    }
    if (key == KEY_BACKSPACE) {
        pty_send(vt, "\x7f", 1);
        return;
    }
    KeyMapping mapping;
    // libvterm knows the cursor-key and keypad modes the remote set, and writes through the output
    // callback.
    if (!special_key(key, mapping)) return;
    Keying keying(vt);
    vterm_keyboard_key(vt->vt.get(), mapping.key, mapping.mod);
}

void tarvik_vt_send(TarvikVt *vt, const char *bytes, size_t len)
{
    if (!vt || !bytes) return;
    pty_send(vt, bytes, len);
}

void tarvik_vt_paste(TarvikVt *vt, const char *bytes, size_t len)
{
    if (!vt || !vt->master.valid() || !bytes) return;
    Keying keying(vt);
    // libvterm writes the opening bracket only when the child's program turned bracketed paste on.
    uint64_t before = vt->out_queue.queued;
    vterm_keyboard_start_paste(vt->vt.get());
    if (vt->out_queue.queued != before) {
        std::string text = without_end_brackets(std::string_view(bytes, len));
        pty_send(vt, text.data(), text.size());
    } else {
        pty_send(vt, bytes, len);
    }
    vterm_keyboard_end_paste(vt->vt.get());
}

size_t tarvik_vt_input_room(const TarvikVt *vt)
{
    // Input for a terminal that is gone is dropped, so it never holds the keyboard back.
    if (!vt || !vt->master.valid()) return kTarvikInputMax;
    size_t queued = pty_input_queued(vt);
    return queued >= kTarvikInputMax ? 0 : kTarvikInputMax - queued;
}
