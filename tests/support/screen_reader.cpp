#include "support/screen_reader.h"

#include <vterm.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace {

int color_index(const VTermScreen *screen, VTermColor c, bool fg)
{
    if (fg ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return -1;
    if (VTERM_COLOR_IS_INDEXED(&c)) return c.indexed.idx;
    (void)screen;
    return 1000 + (c.rgb.red << 16 | c.rgb.green << 8 | c.rgb.blue);
}

size_t incomplete_suffix(std::string_view s)
{
    for (size_t back = 1; back <= 3 && back <= s.size(); ++back) {
        auto c = static_cast<unsigned char>(s[s.size() - back]);
        if ((c & 0xC0) == 0x80) continue;
        size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        return need > back ? back : 0;
    }
    return 0;
}

} // namespace

int screen_reader_settermprop(int prop, void *val, void *user)
{
    auto *r = static_cast<ScreenReader *>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) r->cursor_visible_ = static_cast<VTermValue *>(val)->boolean;
    return 1;
}

namespace {
int settermprop_thunk(VTermProp prop, VTermValue *val, void *user)
{
    return screen_reader_settermprop(prop, val, user);
}
} // namespace

ScreenReader::ScreenReader(int rows, int cols) : rows_(rows), cols_(cols), vt_(vterm_new(rows, cols))
{
    vterm_set_utf8(vt_, 1);
    VTermScreen *screen = vterm_obtain_screen(vt_);
    static VTermScreenCallbacks cb{};
    cb.settermprop = settermprop_thunk;
    vterm_screen_set_callbacks(screen, &cb, this);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
}

ScreenReader::~ScreenReader()
{
    vterm_free(vt_);
}

void ScreenReader::feed(const char *bytes, size_t len)
{
    std::lock_guard<std::mutex> lock(mu_);
    std::string data = tail_;
    data.append(bytes, len);
    size_t keep = incomplete_suffix(data);
    vterm_input_write(vt_, data.data(), data.size() - keep);
    tail_ = data.substr(data.size() - keep);
}

void ScreenReader::resize(int rows, int cols)
{
    std::lock_guard<std::mutex> lock(mu_);
    // libvterm 0.1.4 can fault when the cursor is left outside a smaller screen: it is brought inside
    // first. The program repaints the whole screen after a new size, so nothing depends on it.
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    const std::string home = "\033[" + std::to_string(std::min(pos.row, rows - 1) + 1) + ";" +
                             std::to_string(std::min(pos.col, cols - 1) + 1) + "H";
    vterm_input_write(vt_, home.data(), home.size());
    vterm_set_size(vt_, rows, cols);
    rows_ = rows;
    cols_ = cols;
}

ReadCell ScreenReader::cell(int row, int col) const
{
    std::lock_guard<std::mutex> lock(mu_);
    ReadCell out;
    VTermScreen *screen = vterm_obtain_screen(vt_);
    VTermScreenCell c;
    if (!vterm_screen_get_cell(screen, VTermPos{row, col}, &c)) {
        out.text = " ";
        return out;
    }
    if (c.chars[0] == 0 || c.chars[0] == 0xFFFFFFFFu)
        out.text = c.chars[0] == 0 ? " " : "";
    else
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && c.chars[i]; ++i) out.text += utf8_encode(c.chars[i]);
    out.fg = color_index(screen, c.fg, true);
    out.bg = color_index(screen, c.bg, false);
    out.bold = c.attrs.bold;
    out.blink = c.attrs.blink;
    out.reverse = c.attrs.reverse;
    out.strike = c.attrs.strike;
    out.underline = c.attrs.underline;
    return out;
}

std::string ScreenReader::row_text(int row) const
{
    std::string s;
    for (int col = 0; col < cols_; ++col) s += cell(row, col).text;
    return s;
}

std::string ScreenReader::all_text() const
{
    std::string s;
    for (int row = 0; row < rows_; ++row) {
        if (row) s += '\n';
        s += row_text(row);
    }
    return s;
}

int ScreenReader::cursor_row() const
{
    std::lock_guard<std::mutex> lock(mu_);
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.row;
}

int ScreenReader::cursor_col() const
{
    std::lock_guard<std::mutex> lock(mu_);
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.col;
}

bool ScreenReader::cursor_visible() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return cursor_visible_;
}
