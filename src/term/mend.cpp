// What the output filter gives libvterm for a whole sequence, a control or a character, where libvterm
// would act unsafely or unlike a terminal:
//
// - A repeat (REP, CSI Pn b) loops for ever in libvterm when the glyph has no width, and writes past
//   the line when a wide one reaches the last column: a repeat of nothing is dropped, and one of a wide
//   glyph stops where the last one fits. A repeat repeats only the character right before it, as in
//   terminals: after another repeat, a control or a sequence it does nothing.
// - A saved cursor (ESC 7 and 8, CSI s and u, modes 1048 and 1049) comes back without looking at the
//   screen's size, outside a screen that shrank since, where the next character is written past
//   libvterm's tables; without the character sets and the origin mode that were in use; as the other
//   screen saved it, since libvterm keeps one for both; and with the cursor shown or hidden as it was
//   at the save.
// - CSI s is the cursor save of terminals while there are no left and right margins, and CSI u its
//   restore: libvterm homes the cursor for the one and ignores the other.
// - A scroll region of fewer than two lines is ignored by terminals; libvterm scrolls it, wiping the
//   row.
// - A cursor position report (CSI 6 n) in origin mode counts from the screen's corner in libvterm, where
//   terminals count from the corner of the scroll region and margins, as the positions a program sends
//   in that mode do.
// - Mode 47, the alternate screen of older programs, is taken as 1047, which libvterm knows.
// - The switch to 132 columns (mode 3) is dropped whole: the panel's width is the user's, and this
//   terminal is one that refuses 132 columns, which neither clears nor homes for the switch.
// - In the line-drawing set libvterm shows `_` as itself and `y`, `z` as U+2A7D, U+2A7E rather than a
//   blank, U+2264 and U+2265; after a character beyond ASCII it shows the rest of a write's text in
//   ASCII, in this set and the British one; and a mark after a character of these sets does not join
//   it. So the character sets are kept here, libvterm never sees one (its sets stay ASCII), and the
//   characters of the line-drawing and British sets reach it as what they show.
// - Faint, concealed and overlined text have no place in libvterm's pen; the filter keeps them
//   (FollowedState::extra) for the cells.
// - A combining mark that libvterm gets in another write than its character is put on a cell of its
//   own when that character stands where the cursor stays (the last column), and goes to the next
//   line; the character is given again with it, so the screen never depends on where a read ended.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/utf8.h"
#include "term/vt_internal.h"

namespace {

constexpr char kSo = 0x0E, kSi = 0x0F;

// The columns libvterm moves the cursor for the code point printed on its own.
int libvterm_width(uint32_t cp)
{
    static std::unique_ptr<VTerm, VTermFree> probe = [] {
        std::unique_ptr<VTerm, VTermFree> v(vterm_new(1, 10));
        vterm_set_utf8(v.get(), 1);
        vterm_state_reset(vterm_obtain_state(v.get()), 1);
        return v;
    }();
    // Print a glyph first and move away from it, so that a combining mark cannot join it.
    std::string buf = "\x1b[1;5Ha\x1b[1;5H";
    utf8_append(buf, cp);
    vterm_input_write(probe.get(), buf.data(), buf.size());
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(probe.get()), &pos);
    return pos.col - 4;
}

// Passes on a sequence or control of the filter's own or the child's: libvterm's last glyph is then
// behind something else.
void pass(OutputFilter &f, std::string_view bytes)
{
    f.out += bytes;
    f.glyph_open = false;
}

// What the characters from `_` to `~` of the line-drawing set show.
constexpr const char *kLineDrawing[] = {
    " ",      "\u25c6", "\u2592", "\u2409", "\u240c", "\u240d", "\u240a", "\u00b0",
    "\u00b1", "\u2424", "\u240b", "\u2518", "\u2510", "\u250c", "\u2514", "\u253c",
    "\u23ba", "\u23bb", "\u2500", "\u23bc", "\u23bd", "\u251c", "\u2524", "\u2534",
    "\u252c", "\u2502", "\u2264", "\u2265", "\u03c0", "\u2260", "\u00a3", "\u00b7",
};
constexpr char kPound[] = "\u00a3"; // the British set's `#`

// The designated set that mend.cpp gives libvterm as what it shows: '0' line drawing, 'A' British;
// 0 for any other.
char drawn_set(const std::string &designation)
{
    bool of_94 = designation.size() == 3 && std::strchr("()*+", designation[1]);
    return of_94 && (designation[2] == '0' || designation[2] == 'A') ? designation[2] : 0;
}

void update_plain(OutputFilter &f)
{
    f.plain = f.single_shift == 0 && !drawn_set(f.now.sets[f.now.shifted]);
}

// The attributes of the pen that libvterm does not keep change at this point of the output: what
// came before is painted with the old ones.
void set_extra(TarvikVt *vt, uint16_t extra)
{
    if (extra == vt->filter.now.extra) return;
    vt_pass_on(vt);
    vt->filter.now.extra = extra;
}

// A parameter's number, up to a sub-parameter; 0 when empty, -1 when it is no number.
int number(std::string_view p)
{
    p = p.substr(0, p.find(':'));
    int n = 0;
    for (char c : p) {
        if (c < '0' || c > '9') return -1;
        n = std::min(n * 10 + (c - '0'), 1 << 20);
    }
    return n;
}

// Calls `each` with every parameter of a list separated by ';'; an empty list has one empty parameter.
template <typename F> void for_each_param(std::string_view params, F each)
{
    for (size_t at = 0;;) {
        size_t end = std::min(params.find(';', at), params.size());
        each(params.substr(at, end - at));
        if (end == params.size()) return;
        at = end + 1;
    }
}

// The extra attributes after a select-graphic-rendition sequence with these parameters.
uint16_t sgr_extra(std::string_view params, uint16_t extra)
{
    int skip = 0;
    bool colour = false; // after 38, 48 or 58 in the form with semicolons: the colour's kind comes next
    for_each_param(params, [&](std::string_view p) {
        int code = number(p);
        if (skip > 0) {
            --skip;
        } else if (colour) {
            colour = false;
            skip = code == 5 ? 1 : code == 2 ? 3 : 0;
        } else if (code == 38 || code == 48 || code == 58) {
            colour = p.find(':') == std::string_view::npos;
        } else {
            switch (code) {
            case 0: extra = 0; break;
            case 2: extra |= kTarvikFaint; break;
            case 22: extra &= static_cast<uint16_t>(~kTarvikFaint); break;
            case 8: extra |= kCellConcealed; break;
            case 28: extra &= static_cast<uint16_t>(~kCellConcealed); break;
            case 53: extra |= kTarvikOverline; break;
            case 55: extra &= static_cast<uint16_t>(~kTarvikOverline); break;
            default: break;
            }
        }
    });
    return extra;
}

// A scroll region (CSI top ; bottom r) of fewer than two lines, which terminals ignore.
bool region_too_small(std::string_view params, int rows)
{
    int top = 0, bottom = 0, i = 0;
    for_each_param(params, [&](std::string_view p) {
        if (i == 0) top = number(p);
        if (i == 1) bottom = number(p);
        ++i;
    });
    if (top < 0 || bottom < 0) return false; // malformed: libvterm's own business
    if (top == 0) top = 1;
    if (bottom == 0 || bottom > rows) bottom = rows;
    return top >= bottom;
}

// The width of the last glyph printed, which a repeat repeats; 0 when nothing was printed yet.
int last_glyph_width(const OutputFilter &f)
{
    if (f.last_char == 0) return 0;
    if (f.last_char < 0x80) return 1; // ASCII is one column in every character set
    return libvterm_width(f.last_char);
}

// libvterm puts the glyph again every glyph width from the cursor up to the count or the end of the
// line. With no width it never gets there; a wide glyph started in the last column writes past the
// line. So a repeat of nothing is dropped, and one of a wide glyph stops where the last one fits.
void pass_repeat(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    if (!f.glyph_open) return;
    int width = last_glyph_width(f);
    std::string_view params(f.seq.data() + 2, f.seq.size() - 3);
    // Only the plain form repeats; with a leader or intermediates it means nothing.
    if (width < 1 || width > 2 || params.find_first_not_of("0123456789;:") != std::string_view::npos) return;
    if (width == 1) {
        pass(f, f.seq);
        return;
    }
    long count = 0;
    for (char c : params.substr(0, params.find_first_of(";:")))
        count = std::min(count * 10 + (c - '0'), 1L << 20);
    if (count == 0) count = 1;
    // Where the cursor stands depends on everything before the repeat, so libvterm takes that first.
    vt_pass_on(vt);
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    long fit = pos.col >= 0 && pos.col <= vt->cols - 2 ? (vt->cols - 2 - pos.col) / 2 + 1 : 0;
    long glyphs = std::min((count + 1) / 2, fit);
    f.glyph_open = false;
    if (glyphs > 0) pass(f, "\x1b[" + std::to_string(2 * glyphs - 1) + "b");
}

// Notes the cursor that the screen saves now, as libvterm saves it.
void note_save(TarvikVt *vt)
{
    vt_pass_on(vt);
    auto &c = vt->saved_cursors[vt->output_screen];
    c.valid = true;
    vterm_state_get_cursorpos(vt->state, &c.pos);
    c.pen = vt->pen;
    c.state = vt->filter.now;
    vt->libvterm_saved = vt->output_screen;
}

// The SGR sequence that gives libvterm's pen the colours and attributes of `pen`.
std::string pen_sgr(const VtPen &pen)
{
    std::string s = "\x1b[0";
    const std::pair<uint16_t, const char *> kAttrs[] = {{kTarvikBold, ";1"},
                                                        {kTarvikItalic, ";3"},
                                                        {kTarvikBlink, ";5"},
                                                        {kTarvikReverse, ";7"},
                                                        {kTarvikStrike, ";9"}};
    for (const auto &[bit, sgr] : kAttrs)
        if (pen.attrs & bit) s += sgr;
    if (pen.attrs & kTarvikDoubleUnderline)
        s += ";4:2";
    else if (pen.attrs & kTarvikUnderline)
        s += ";4";
    auto color = [&](const VTermColor &c, bool fg) {
        if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return;
        s += fg ? ";38" : ";48";
        if (VTERM_COLOR_IS_INDEXED(&c))
            s += ";5;" + std::to_string(c.indexed.idx);
        else
            s += ";2;" + std::to_string(c.rgb.red) + ";" + std::to_string(c.rgb.green) + ";" +
                 std::to_string(c.rgb.blue);
    };
    color(pen.fg, true);
    color(pen.bg, false);
    return s + "m";
}

int region_start(TarvikVt *vt, const char *request);

// After libvterm restored the cursor another screen saved: moves the cursor and sets the pen as this
// screen saved them (home and the default pen when it never did), and makes that libvterm's save.
void restore_own_cursor(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    const auto &c = vt->saved_cursors[vt->output_screen];
    int row = c.valid ? c.pos.row + 1 : 1, col = c.valid ? c.pos.col + 1 : 1;
    if (f.saved.origin) {
        // Positions count from the region's corner now.
        int top = region_start(vt, "\x1bP$qr\x1b\\"), left = region_start(vt, "\x1bP$qs\x1b\\");
        row = std::max(1, row - std::max(0, top - 1));
        col = std::max(1, col - std::max(0, left - 1));
    }
    pass(f, "\x1b[" + std::to_string(row) + ";" + std::to_string(col) + "H");
    pass(f, c.valid ? pen_sgr(c.pen) : "\x1b[0m");
    pass(f, "\x1b"
            "7");
    vt_pass_on(vt);
    vt->libvterm_saved = vt->output_screen;
}

// Passes on a sequence that restores the saved cursor, and brings back what libvterm does not.
void pass_restore(TarvikVt *vt, std::string_view seq)
{
    OutputFilter &f = vt->filter;
    const bool others = vt->libvterm_saved != vt->output_screen;
    if (others) {
        const auto &c = vt->saved_cursors[vt->output_screen];
        f.saved = c.valid ? c.state : FollowedState{};
    }
    // Setting the mode homes the cursor, and the restore moves it to its place then.
    if (f.saved.origin != f.now.origin) pass(f, f.saved.origin ? "\x1b[?6h" : "\x1b[?6l");
    vt_pass_on(vt);
    const bool visible = vt->cursor_visible;
    pass(f, seq);
    vt_pass_on(vt);
    if (others) restore_own_cursor(vt);
    // libvterm's restore also brings back whether the cursor showed, which a terminal's leaves alone: a
    // program that saved while its cursor was hidden would leave it hidden.
    if (vt->cursor_visible != visible) pass(f, visible ? "\x1b[?25h" : "\x1b[?25l");
    // Any control sequence that libvterm acts on brings a cursor outside the screen back inside, and in
    // origin mode into the scroll region, as a terminal's restore does; a private mode that does not
    // exist changes nothing else.
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    if (pos.row >= vt->rows || pos.col >= vt->cols || f.saved.origin) pass(f, "\x1b[?0h");
    f.now = f.saved;
    update_plain(f);
}

// libvterm's answer to a request of the layer's own, kept from the child.
std::string ask_libvterm(TarvikVt *vt, const char *request)
{
    std::string answer;
    vt->answer_to = &answer;
    vt_write_own(vt, request);
    vt->answer_to = nullptr;
    return answer;
}

// The number at the start of the text; -1 when there is none.
int leading_number(std::string_view s)
{
    size_t end = s.find_first_not_of("0123456789");
    return end == 0 || s.empty() ? -1 : number(s.substr(0, end));
}

// The first row or column of libvterm's scroll region, counted from 1, from its report of the
// region (DECRQSS for `r` or `s`); -1 when the report says nothing readable.
int region_start(TarvikVt *vt, const char *request)
{
    std::string report = ask_libvterm(vt, request);
    size_t at = report.find("$r");
    return at == std::string::npos ? -1 : leading_number(std::string_view(report).substr(at + 2));
}

// Answers a cursor position report in origin mode: libvterm's own report, in its form, with the
// position counted from the region's corner.
void pass_position_report(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    vt_pass_on(vt);
    f.glyph_open = false;
    std::string report = ask_libvterm(vt, "\x1b[6n");
    int top = region_start(vt, "\x1bP$qr\x1b\\"), left = region_start(vt, "\x1bP$qs\x1b\\");
    size_t at = report.find_first_of("0123456789");
    size_t semi = report.find(';', at);
    if (at != std::string::npos && semi != std::string::npos && top > 0 && left > 0) {
        std::string_view rest(report);
        int row = leading_number(rest.substr(at)), col = leading_number(rest.substr(semi + 1));
        size_t end = report.find_first_not_of("0123456789", semi + 1);
        if (row >= top && col >= left && end != std::string::npos)
            report = report.substr(0, at) + std::to_string(row - top + 1) + ";" +
                     std::to_string(col - left + 1) + report.substr(end);
    }
    pty_reply(vt, report.data(), report.size());
}

// Private modes (CSI ? Pm h or l), with those mended here rewritten or left out.
void pass_private_modes(TarvikVt *vt, char final)
{
    OutputFilter &f = vt->filter;
    std::string_view params(f.seq.data() + 3, f.seq.size() - 4);
    std::string kept;
    bool changed = false, restore = false;
    for_each_param(params, [&](std::string_view p) {
        int mode = number(p);
        if (mode == 3) {
            changed = true;
            return;
        }
        if (!kept.empty()) kept += ';';
        if (mode == 47) {
            kept += "1047";
            changed = true;
            vt->output_screen = final == 'h' ? 1 : 0;
            return;
        }
        kept += p;
        if (mode == 6) f.now.origin = final == 'h';
        if (mode == 69) f.lr_margins = final == 'h';
        if ((mode == 1048 || mode == 1049) && final == 'h') {
            f.saved = f.now;
            note_save(vt);
        }
        if (mode == 1047 || mode == 1049) vt->output_screen = final == 'h' ? 1 : 0;
        if ((mode == 1048 || mode == 1049) && final == 'l') restore = true;
    });
    if (changed && kept.empty()) return;
    std::string seq = changed ? "\x1b[?" + kept + final : f.seq;
    if (restore)
        pass_restore(vt, seq);
    else
        pass(f, seq);
}

// Character sets: designations, locking and single shifts are followed here and never reach libvterm.
void pass_escape(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    const std::string &seq = f.seq;
    if (f.intermediates > 0) {
        static const char kDesignators[] = "()*+-./"; // G0-G3 for 94 characters, G1-G3 for 96
        const char *d = std::strchr(kDesignators, seq[1]);
        if (!d) {
            pass(f, seq);
            return;
        }
        int g = static_cast<int>(d - kDesignators);
        f.now.sets[g < 4 ? g : g - 3] = seq;
        update_plain(f);
        return;
    }
    switch (seq.back()) {
    case '7':
        f.saved = f.now;
        note_save(vt);
        break;
    case '8': pass_restore(vt, seq); return;
    case 'c':
        set_extra(vt, 0);
        pass(f, seq);
        pass(f, kSaveDefaults);
        mend_reset(f);
        for (auto &c : vt->saved_cursors) c.valid = false;
        vt->libvterm_saved = vt->output_screen = 0;
        return;
    case 'N':
    case 'O':
        f.single_shift = seq.back() == 'N' ? 2 : 3;
        update_plain(f);
        return;
    case 'n':
    case 'o':
        f.now.shifted = seq.back() == 'n' ? 2 : 3;
        update_plain(f);
        return;
    case '~':
    case '}':
    case '|': return; // the right half of the code table, which UTF-8 has no room for
    default: break;
    }
    pass(f, seq);
}

void pass_control_sequence(TarvikVt *vt)
{
    OutputFilter &f = vt->filter;
    const std::string &seq = f.seq;
    char final = seq.back();
    char leader = seq.size() > 3 && seq[2] >= 0x3C && seq[2] <= 0x3F ? seq[2] : 0;
    if (leader == 0 && f.intermediates == 0) {
        std::string_view params(seq.data() + 2, seq.size() - 3);
        switch (final) {
        case 'b': pass_repeat(vt); return;
        case 'n':
            if (f.now.origin && params == "6") {
                pass_position_report(vt);
                return;
            }
            break;
        case 'm': set_extra(vt, sgr_extra(params, f.now.extra)); break;
        case 'r':
            if (region_too_small(params, vt->rows)) return;
            break;
        case 's':
            if (params.empty() && !f.lr_margins) {
                f.saved = f.now;
                note_save(vt);
                pass(f, "\x1b"
                        "7");
                return;
            }
            break;
        case 'u':
            if (params.empty()) {
                pass_restore(vt, "\x1b"
                                 "8");
                return;
            }
            break;
        default: break;
        }
    } else if (leader == '?' && f.intermediates == 0 && (final == 'h' || final == 'l')) {
        pass_private_modes(vt, final);
        return;
    } else if (seq == "\x1b[!p") {
        // A soft reset gives the pen and the character sets their defaults.
        set_extra(vt, 0);
        f.now = FollowedState{};
        f.single_shift = 0;
        update_plain(f);
    }
    pass(f, seq);
}

} // namespace

void mend_sequence(TarvikVt *vt, bool control)
{
    if (control)
        pass_control_sequence(vt);
    else
        pass_escape(vt);
}

void mend_control(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    if (c == kSo || c == kSi) {
        f.now.shifted = c == kSo ? 1 : 0;
        update_plain(f);
        return;
    }
    f.out.push_back(static_cast<char>(c));
    f.glyph_open = false;
}

void mend_ascii(TarvikVt *vt, unsigned char c)
{
    OutputFilter &f = vt->filter;
    char set = drawn_set(f.now.sets[f.single_shift ? f.single_shift : f.now.shifted]);
    f.single_shift = 0;
    update_plain(f);
    if (set == '0' && c >= '_' && c <= '~')
        f.out += kLineDrawing[c - '_'];
    else if (set == 'A' && c == '#')
        f.out += kPound;
    else
        f.out.push_back(static_cast<char>(c));
}

void mend_char(TarvikVt *vt, uint32_t cp)
{
    OutputFilter &f = vt->filter;
    if (f.single_shift) {
        f.single_shift = 0;
        update_plain(f);
    }
    // A mark for the glyph that ended the last write, which libvterm holds already. Combining marks
    // start at U+0300.
    if (!f.glyph_open || !f.out.empty() || vt->glyph_row < 0 || cp < 0x300 || libvterm_width(cp) != 0) return;
    VTermPos pos;
    vterm_state_get_cursorpos(vt->state, &pos);
    // libvterm joins the mark itself unless the cursor stayed on the glyph.
    if (pos.row != vt->glyph_row || pos.col != vt->glyph_col || pos.row >= vt->rows || pos.col >= vt->cols)
        return;
    uint32_t glyph[VTERM_MAX_CHARS_PER_CELL];
    vt_cell_chars(vt, pos.row, pos.col, glyph);
    // A lone mark has no width, and libvterm's cursor has not moved past it: it joins that itself.
    if (glyph[0] == 0 || glyph[0] == kCoveredChar || (glyph[0] >= 0x80 && libvterm_width(glyph[0]) == 0))
        return;
    // The cursor steps off the glyph and back, after which libvterm prints there rather than after it:
    // left and back, or right and back at the left edge. Steps stay on the row and within the margins,
    // whatever the scroll region and origin mode.
    auto cursor = [&] {
        VTermPos p;
        vterm_state_get_cursorpos(vt->state, &p);
        return p;
    };
    vt_write_own(vt, "\x1b[D");
    vt_write_own(vt, cursor().col == pos.col - 1 ? "\x1b[C" : "\x1b[C\x1b[D");
    VTermPos back = cursor();
    if (back.row != pos.row || back.col != pos.col) return;
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && glyph[i]; ++i) utf8_append(f.out, glyph[i]);
}

void mend_reset(OutputFilter &f)
{
    f.now = FollowedState{};
    f.saved = FollowedState{};
    f.single_shift = 0;
    f.lr_margins = false;
    update_plain(f);
}
