// A machine's history: the lines that left the top of its screen, kept compactly.
//
// One line is one record in a chunk:
//   header   varint: text length << 3 | kHasRuns | kHasLayout | kWrapped
//   text     UTF-8, every character of every cell in order (a blank for an empty cell)
//   runs     (kHasRuns) varint count, then per run: varint cells, attribute byte, varint fg, varint bg
//   layout   (kHasLayout) varint cells, then per cell one byte: width << 4 | characters in it
// A line in the terminal's own colours has no runs, and one whose every cell holds one narrow
// character has no layout: plain text costs its characters and a byte or two.
#include "machines/history.h"

#include "base/utf8.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned kHasRuns = 1, kHasLayout = 2, kWrapped = 4; // kWrapped: see history_wrapped
constexpr unsigned kFlagBits = 3;
// Chunks grow from small (most machines scroll little) up to this size.
constexpr size_t kFirstChunkBytes = 1024, kChunkBytes = 16384;

void put_varint(std::vector<uint8_t> &out, uint64_t v)
{
    while (v >= 0x80) {
        out.push_back(static_cast<uint8_t>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
}

uint64_t get_varint(const uint8_t *&p)
{
    uint64_t v = 0;
    for (int shift = 0;; shift += 7) {
        uint8_t b = *p++;
        v |= static_cast<uint64_t>(b & 0x7F) << shift;
        if (!(b & 0x80)) return v;
    }
}

int chars_in(const TarvikLineCell &cell)
{
    int n = 0;
    while (n < kTarvikMaxChars && cell.chars[n]) ++n;
    return n;
}

// Appends the cells' text; true when some cell is not one narrow character (the text alone cannot
// tell where its cells are).
bool append_text(std::string &out, const TarvikLineCell *cells, int count)
{
    bool irregular = false;
    // Most cells hold one narrow ASCII character: those go out a block at a time, not byte by byte
    // (every line that scrolls, and every screen row an answer is read from, comes through here).
    char block[256];
    size_t used = 0;
    for (int i = 0; i < count; ++i) {
        const TarvikLineCell &c = cells[i];
        if (c.width == 1 && c.chars[0] > 0 && c.chars[0] < 0x80 && c.chars[1] == 0) {
            block[used++] = static_cast<char>(c.chars[0]);
            if (used == sizeof block) {
                out.append(block, used);
                used = 0;
            }
            continue;
        }
        out.append(block, used);
        used = 0;
        int n = c.width == 0 ? 0 : chars_in(c);
        if (n != 1 || c.width != 1) irregular = true;
        // A cell with nothing written in it shows a blank.
        if (c.width != 0 && n == 0) out += ' ';
        for (int k = 0; k < n; ++k) utf8_append(out, c.chars[k]);
    }
    out.append(block, used);
    return irregular;
}

uint64_t color_code(uint32_t color)
{
    if (color == kTarvikDefaultColor) return 0;
    if (color & kTarvikRgbColor) return 257 + (color & 0xFFFFFF);
    return static_cast<uint64_t>(color & 0xFF) + 1;
}

uint32_t color_of(uint64_t code)
{
    if (code == 0) return kTarvikDefaultColor;
    if (code >= 257) return kTarvikRgbColor | static_cast<uint32_t>(code - 257);
    return static_cast<uint32_t>(code - 1);
}

// Writes the record of a line whose every cell is one ASCII character in the terminal's own colours,
// which is most of what scrolls by, at `out` (room for 10 + count bytes); returns its length, or 0 for
// any other line.
size_t plain_ascii(uint8_t *out, const TarvikLineCell *cells, int count, bool wrapped)
{
    uint8_t *p = out;
    for (uint64_t v = static_cast<uint64_t>(count) << kFlagBits | (wrapped ? kWrapped : 0);; v >>= 7) {
        *p++ = static_cast<uint8_t>(v >= 0x80 ? v | 0x80 : v);
        if (v < 0x80) break;
    }
    const TarvikStyle plain{};
    for (int i = 0; i < count; ++i) {
        const TarvikLineCell &c = cells[i];
        if (c.chars[0] - 1 >= 0x7F || c.chars[1] != 0 || c.width != 1 || !(c.style == plain)) return 0;
        *p++ = static_cast<uint8_t>(c.chars[0]);
    }
    return static_cast<size_t>(p - out);
}

// The record of one line; `out` is reused between calls.
void encode(std::vector<uint8_t> &out, const TarvikLineCell *cells, int count, bool wrapped)
{
    static std::string text;
    text.clear();
    bool layout = append_text(text, cells, count);
    bool runs = false;
    for (int i = 0; i < count && !runs; ++i) runs = !(cells[i].style == TarvikStyle{});

    out.clear();
    put_varint(out, static_cast<uint64_t>(text.size()) << kFlagBits | (runs ? kHasRuns : 0) |
                        (layout ? kHasLayout : 0) | (wrapped ? kWrapped : 0));
    out.insert(out.end(), text.begin(), text.end());
    if (runs) {
        static std::vector<std::pair<int, TarvikStyle>> list;
        list.clear();
        for (int i = 0; i < count; ++i) {
            if (list.empty() || !(list.back().second == cells[i].style))
                list.push_back({1, cells[i].style});
            else
                ++list.back().first;
        }
        put_varint(out, list.size());
        for (const auto &[n, style] : list) {
            put_varint(out, static_cast<uint64_t>(n));
            put_varint(out, style.attrs);
            put_varint(out, color_code(style.fg));
            put_varint(out, color_code(style.bg));
        }
    }
    if (layout) {
        put_varint(out, static_cast<uint64_t>(count));
        for (int i = 0; i < count; ++i) {
            int n = cells[i].width == 0 ? 0 : std::max(1, chars_in(cells[i]));
            out.push_back(static_cast<uint8_t>(std::clamp(cells[i].width, 0, 2) << 4 | n));
        }
    }
}

const uint8_t *record(const History &h, uint64_t line)
{
    if (line < h.begin || line >= h.begin + h.lines.size()) return nullptr;
    const History::Where &w = h.lines[static_cast<size_t>(line - h.begin)];
    return h.chunks[static_cast<uint32_t>(w.chunk - h.first_chunk)].bytes.get() + w.offset;
}

void drop_oldest(History &h)
{
    const History::Where &w = h.lines.front();
    --h.chunks[static_cast<uint32_t>(w.chunk - h.first_chunk)].lines;
    h.lines.pop_front();
    ++h.begin;
    // Chunks empty out in the order they were filled. The newest one stays for what comes next.
    while (h.chunks.size() > 1 && h.chunks.front().lines == 0) {
        h.chunks.pop_front();
        ++h.first_chunk;
    }
}

// Room for `need` bytes after the newest record; a new chunk when the newest has not that much left.
// Chunks never grow: records must not move.
uint8_t *room(History &h, size_t need)
{
    if (h.chunks.empty() || h.chunks.back().size - h.chunks.back().used < need) {
        size_t last = h.chunks.empty() ? 0 : h.chunks.back().size;
        size_t size = std::max(need, std::clamp(last * 2, kFirstChunkBytes, kChunkBytes));
        History::Chunk &c = h.chunks.emplace_back();
        c.bytes.reset(new uint8_t[size]);
        c.size = static_cast<uint32_t>(size);
    }
    History::Chunk &c = h.chunks.back();
    return c.bytes.get() + c.used;
}

// Makes the `len` bytes written at room() the newest line.
void commit(History &h, size_t len)
{
    History::Chunk &c = h.chunks.back();
    h.lines.push_back({static_cast<uint32_t>(h.first_chunk + h.chunks.size() - 1), c.used});
    c.used += static_cast<uint32_t>(len);
    ++c.lines;
    if (h.lines.size() > h.limit) drop_oldest(h);
}

// The screen's last row that the user's output reaches.
int last_screen_row(const TarvikVt *vt, std::vector<TarvikLineCell> &cells)
{
    cells.resize(static_cast<size_t>(tarvik_vt_cols(vt)));
    int last = tarvik_vt_cursor_row(vt);
    for (int row = tarvik_vt_rows(vt) - 1; row > last; --row)
        if (tarvik_vt_line(vt, row, cells.data()) > 0) return row;
    return last;
}

} // namespace

History::Chunk::Chunk(const Chunk &other)
    : bytes(new uint8_t[other.used]), used(other.used), size(other.used), lines(other.lines)
{
    std::memcpy(bytes.get(), other.bytes.get(), used);
}

History::Chunk &History::Chunk::operator=(const Chunk &other)
{
    Chunk copy(other);
    return *this = std::move(copy);
}

void history_set_limit(History &h, size_t lines)
{
    h.limit = lines;
    while (h.lines.size() > h.limit) drop_oldest(h);
}

void history_push(History &h, const TarvikLineCell *cells, int count, bool wrapped)
{
    if (h.limit == 0) {
        // Numbers go on counting, so that marks stay right.
        ++h.begin;
        return;
    }
    size_t len = plain_ascii(room(h, 10 + static_cast<size_t>(count)), cells, count, wrapped);
    if (len == 0) {
        static std::vector<uint8_t> rec;
        encode(rec, cells, count, wrapped);
        len = rec.size();
        std::memcpy(room(h, len), rec.data(), len);
    }
    commit(h, len);
}

bool history_wrapped(const History &h, uint64_t line)
{
    const uint8_t *p = record(h, line);
    return p && (get_varint(p) & kWrapped);
}

bool history_line_wrapped(const History &h, const TarvikVt *vt, uint64_t line)
{
    uint64_t end = history_end(h);
    if (line < end) return history_wrapped(h, line);
    return line - end < static_cast<uint64_t>(tarvik_vt_rows(vt)) &&
           tarvik_vt_row_wrapped(vt, static_cast<int>(line - end));
}

uint64_t history_begin(const History &h)
{
    return h.begin;
}
uint64_t history_end(const History &h)
{
    return h.begin + h.lines.size();
}
size_t history_size(const History &h)
{
    return h.lines.size();
}

std::string_view history_text(const History &h, uint64_t line)
{
    const uint8_t *p = record(h, line);
    if (!p) return {};
    uint64_t header = get_varint(p);
    return {reinterpret_cast<const char *>(p), static_cast<size_t>(header >> kFlagBits)};
}

void history_cells(const History &h, uint64_t line, std::vector<TarvikLineCell> &cells)
{
    cells.clear();
    const uint8_t *p = record(h, line);
    if (!p) return;
    uint64_t header = get_varint(p);
    const uint8_t *text = p, *text_end = p + (header >> kFlagBits);
    p = text_end;
    std::vector<std::pair<uint64_t, TarvikStyle>> runs;
    if (header & kHasRuns) {
        for (uint64_t n = get_varint(p); n > 0; --n) {
            uint64_t len = get_varint(p);
            TarvikStyle style;
            style.attrs = static_cast<uint16_t>(get_varint(p));
            style.fg = color_of(get_varint(p));
            style.bg = color_of(get_varint(p));
            runs.push_back({len, style});
        }
    }
    if (header & kHasLayout) {
        for (uint64_t n = get_varint(p); n > 0; --n) {
            uint8_t shape = *p++;
            TarvikLineCell c{};
            c.width = shape >> 4;
            for (int k = 0; k < (shape & 0xF) && k < kTarvikMaxChars && text < text_end; ++k)
                c.chars[k] = utf8_decode(text);
            cells.push_back(c);
        }
    } else {
        while (text < text_end) {
            TarvikLineCell c{};
            c.width = 1;
            c.chars[0] = utf8_decode(text);
            cells.push_back(c);
        }
    }
    size_t at = 0;
    for (const auto &[len, style] : runs)
        for (uint64_t i = 0; i < len && at < cells.size(); ++i) cells[at++].style = style;
}

std::optional<uint64_t> history_find(const History &h, std::string_view text, uint64_t from, bool backward)
{
    if (text.empty() || h.lines.empty()) return std::nullopt;
    if (backward) {
        if (from < h.begin) return std::nullopt;
        for (uint64_t line = std::min(from, history_end(h) - 1) + 1; line-- > h.begin;)
            if (history_text(h, line).find(text) != std::string_view::npos) return line;
    } else {
        for (uint64_t line = std::max(from, h.begin); line < history_end(h); ++line)
            if (history_text(h, line).find(text) != std::string_view::npos) return line;
    }
    return std::nullopt;
}

void history_add_screen(History &h, const TarvikVt *vt)
{
    std::vector<TarvikLineCell> cells;
    int last = last_screen_row(vt, cells);
    for (int row = 0; row <= last; ++row)
        history_push(h, cells.data(), tarvik_vt_line(vt, row, cells.data()), tarvik_vt_row_wrapped(vt, row));
}

uint64_t history_mark(const History &h, const TarvikVt *vt)
{
    return history_end(h) + static_cast<uint64_t>(tarvik_vt_cursor_row(vt));
}

std::string history_text_since(const History &h, const TarvikVt *vt, uint64_t mark)
{
    std::string out;
    uint64_t end = history_end(h);
    for (uint64_t line = std::max(mark, h.begin); line < end; ++line) {
        out += history_text(h, line);
        out += '\n';
    }
    int first = mark > end ? static_cast<int>(std::min<uint64_t>(mark - end, tarvik_vt_rows(vt))) : 0;
    std::vector<std::string> rows;
    history_screen_text(vt, first, rows);
    for (const std::string &row : rows) {
        out += row;
        out += '\n';
    }
    return out;
}

void history_screen_text(const TarvikVt *vt, int first, std::vector<std::string> &rows)
{
    std::vector<TarvikLineCell> cells;
    int last = last_screen_row(vt, cells);
    rows.resize(static_cast<size_t>(std::max(0, last - std::max(first, 0) + 1)));
    for (int row = std::max(first, 0); row <= last; ++row) {
        std::string &text = rows[static_cast<size_t>(row - std::max(first, 0))];
        text.clear();
        append_text(text, cells.data(), tarvik_vt_line(vt, row, cells.data()));
    }
}
