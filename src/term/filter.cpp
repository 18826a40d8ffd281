// Child output on its way to libvterm, reduced to what libvterm handles safely.
//
// The libvterm the program is built with overwrites its own memory on a control sequence with more
// than 16 parameters, reads past its input on some cut string sequences, moves the cursor backwards
// for a C1 control sent as UTF-8, and has faults in some sequences that it does take (mend.cpp keeps
// those away). One machine's output must never take the program down, so every byte for the screen
// passes this parser first: text goes through as whole UTF-8 characters (U+FFFD for malformed ones,
// nothing for C1 controls and DEL), C0 controls as they are, escape and control sequences only whole
// and within libvterm's limits, and strings (titles, device control, application commands), which
// nothing here shows, not at all. However the output is cut into reads, libvterm gets the same.
#include <algorithm>
#include <cstring>

#include "term/vt_internal.h"

namespace {

constexpr unsigned char kCan = 0x18, kSub = 0x1A, kEsc = 0x1B, kDel = 0x7F;
constexpr char kReplacement[] = "\xef\xbf\xbd"; // U+FFFD
// libvterm keeps the parameters in an array of 16; the 17th is written past its end.
constexpr int kMaxArgs = 16;
// Real sequences have at most two; libvterm's buffers for them are small.
constexpr int kMaxIntermediates = 2;
// Long enough for any sequence within the limits above; a longer one is malformed.
constexpr size_t kMaxSequence = 256;

using State = OutputFilter::State;

bool is_intermediate(unsigned char c)
{
    return c >= 0x20 && c <= 0x2F;
}

void utf8_reset(OutputFilter &f)
{
    f.utf8_need = 0;
    f.utf8_len = 0;
}

// A character beyond ASCII, whole, as it goes to libvterm.
void put_char(TarvikVt *vt, const char *bytes, size_t len, uint32_t cp)
{
    OutputFilter &f = vt->filter;
    mend_char(vt, cp);
    f.out.append(bytes, len);
    f.last_char = cp;
    f.glyph_open = true;
}

// A character cut short by something that is not its continuation shows as U+FFFD, as libvterm would.
void utf8_abandon(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    if (f.utf8_need == 0) return;
    utf8_reset(f);
    put_char(vt, kReplacement, 3, 0xFFFD);
}

// One byte of text (32 and up, ESC excepted), passed on only as part of a whole character.
void text_byte(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    if (f.utf8_need > 0) {
        // The second byte decides overlong forms, UTF-16 halves and code points past U+10FFFF.
        unsigned char lo = 0x80, hi = 0xBF;
        if (f.utf8_len == 1) {
            unsigned char lead = f.utf8[0];
            if (lead == 0xE0) lo = 0xA0;
            if (lead == 0xED) hi = 0x9F;
            if (lead == 0xF0) lo = 0x90;
            if (lead == 0xF4) hi = 0x8F;
        }
        if (c < lo || c > hi) {
            utf8_abandon(vt);
            text_byte(vt, c);
            return;
        }
        f.utf8[f.utf8_len++] = c;
        f.utf8_cp = f.utf8_cp << 6 | (c & 0x3Fu);
        if (--f.utf8_need > 0) return;
        uint32_t cp = f.utf8_cp;
        int len = f.utf8_len;
        utf8_reset(f);
        if (cp < 0xA0) return; // a C1 control: libvterm would move the cursor backwards for it
        put_char(vt, reinterpret_cast<const char *>(f.utf8), static_cast<size_t>(len), cp);
        return;
    }
    if (c < 0x80) {
        if (c == kDel) return; // prints nothing, and is no character for a repeat either
        if (f.plain)
            f.out.push_back(static_cast<char>(c));
        else
            mend_ascii(vt, c);
        f.last_char = c;
        f.glyph_open = true;
    } else if (c >= 0xC2 && c <= 0xF4) {
        f.utf8[0] = c;
        f.utf8_len = 1;
        f.utf8_need = c <= 0xDF ? 1 : c <= 0xEF ? 2 : 3;
        f.utf8_cp = c & (0x3Fu >> f.utf8_need);
    } else {
        put_char(vt, kReplacement, 3, 0xFFFD); // a stray continuation byte, or a lead byte no character has
    }
}

void pass_control(TarvikVt *vt, unsigned char c)
{
    utf8_abandon(vt);
    mend_control(vt, c);
}

void start_sequence(TarvikVt *vt, State state, unsigned char c)
{
    OutputFilter &f = vt->filter;
    utf8_abandon(vt);
    f.state = state;
    f.seq.assign(1, static_cast<char>(kEsc));
    if (state == State::Csi) f.seq.push_back(static_cast<char>(c));
    f.args = 0;
    f.intermediates = 0;
    f.valid = true;
}

// Adds a byte to the sequence; one too long for any real use is malformed.
void collect(OutputFilter &f, unsigned char c)
{
    if (f.seq.size() < kMaxSequence)
        f.seq.push_back(static_cast<char>(c));
    else
        f.valid = false;
}

void finish_sequence(TarvikVt *vt, unsigned char final)
{
    OutputFilter &f = vt->filter;
    collect(f, final);
    bool control = f.state == State::Csi;
    f.state = State::Ground;
    if (f.valid) mend_sequence(vt, control);
}

// One byte after ESC, or after ESC and intermediates.
void escape_byte(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    if (f.intermediates == 0 && c == '[') {
        start_sequence(vt, State::Csi, c);
    } else if (f.intermediates == 0 && (c == ']' || c == 'P' || c == 'X' || c == '^' || c == '_')) {
        f.state = State::String;
    } else if (is_intermediate(c)) {
        collect(f, c);
        if (++f.intermediates > kMaxIntermediates) f.valid = false;
    } else {
        // libvterm starts a control sequence or a string at these even after intermediates, where
        // they only end an escape sequence that means nothing; it must not see one.
        if (std::strchr("[]PX^_", c)) f.valid = false;
        finish_sequence(vt, c);
    }
}

// One byte of a control sequence after ESC [.
void csi_byte(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    bool first = f.seq.size() == 2;
    if (c >= 0x3C && c <= 0x3F) {
        if (!first) f.valid = false; // a leader only stands first
    } else if (c >= 0x30 && c <= 0x3B) {
        if (f.intermediates > 0) f.valid = false; // parameters come before intermediates
        if (f.args == 0) f.args = 1;
        if ((c == ';' || c == ':') && ++f.args > kMaxArgs) f.valid = false;
    } else if (is_intermediate(c)) {
        if (++f.intermediates > kMaxIntermediates) f.valid = false;
    }
    if (c >= 0x40 && c <= 0x7E)
        finish_sequence(vt, c);
    else
        collect(f, c);
}

void filter_byte(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    if (f.state == State::Ground) {
        if (c == kEsc)
            start_sequence(vt, State::Escape, c);
        else if (c < 0x20)
            pass_control(vt, c);
        else
            text_byte(vt, c);
        return;
    }
    if (f.state == State::String || f.state == State::StringEscape) {
        // Strings end with BEL or ST (ESC \); ESC and anything else ends the string and starts a
        // new sequence.
        if (f.state == State::StringEscape && c == '\\') {
            f.state = State::Ground;
        } else if (f.state == State::StringEscape) {
            start_sequence(vt, State::Escape, kEsc);
            filter_byte(vt, c);
        } else if (c == 0x07 || c == kCan || c == kSub) {
            f.state = State::Ground;
        } else if (c == kEsc) {
            f.state = State::StringEscape;
        }
        return;
    }
    // Inside an escape or control sequence.
    if (c == kEsc) {
        start_sequence(vt, State::Escape, c); // drops what came so far
    } else if (c == kCan || c == kSub) {
        f.state = State::Ground; // cancelled
    } else if (c < 0x20) {
        pass_control(vt, c); // a control inside a sequence acts at once, as on a terminal
    } else if (c == kDel) {
        // ignored inside sequences
    } else if (c >= 0x80) {
        f.state = State::Ground; // not part of any sequence: the sequence is dropped, the byte is text
        filter_byte(vt, c);
    } else if (f.state == State::Escape) {
        escape_byte(vt, c);
    } else {
        csi_byte(vt, c);
    }
}

} // namespace

void vt_pass_on(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    if (f.out.empty()) return;
    // std::string keeps a NUL after its bytes, so libvterm never reads past them.
    vterm_input_write(vt->vt.get(), f.out.data(), f.out.size());
    if (f.copy_to) f.copy_to->append(f.out);
    f.out.clear();
    vt_cells_collect(vt);
}

void vt_write(TarvikVt *vt, const char *bytes, size_t len)
{
    OutputFilter &f = vt->filter;
    f.out.clear();
    const auto *p = reinterpret_cast<const unsigned char *>(bytes);
    const unsigned char *end = p + len;
    while (p < end) {
        if (f.state == State::Ground && f.utf8_need == 0 && f.plain) {
            // The bulk of the output is plain ASCII text; pass it in runs.
            const unsigned char *run = p;
            while (p < end && *p >= 0x20 && *p < kDel) ++p;
            if (p > run) {
                f.out.append(reinterpret_cast<const char *>(run), static_cast<size_t>(p - run));
                f.last_char = p[-1];
                f.glyph_open = true;
            }
            if (p == end) break;
        }
        filter_byte(vt, *p++);
    }
    vt_pass_on(vt);
}

void vt_write_end(TarvikVt *vt)
{
    vt->filter.out.clear();
    utf8_abandon(vt);
    vt_pass_on(vt);
}

void vt_write_own(TarvikVt *vt, const std::string &bytes)
{
    vterm_input_write(vt->vt.get(), bytes.data(), bytes.size());
    if (vt->filter.copy_to) vt->filter.copy_to->append(bytes);
    vt->filter.glyph_open = false;
    vt_cells_collect(vt);
}
