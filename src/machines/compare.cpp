// Grouping the machines' answers to the last multicast command.
//
// A machine's answer is read in two parts: the lines that scrolled into its history since the mark,
// which never change once there and so are read, cleaned and hashed once (AnswerCache), and the rows
// still on its screen, read again only when the screen changed. The hash of an answer's lines finds
// the machines whose answers may be equal; the lines decide.
#include "machines/compare.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <random>
#include <functional>
#include <sstream>
#include <unordered_map>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "machines/history.h"
#include "machines/mlist.h"

namespace {

// ssh options that take the next word as their value: that word is not the destination.
constexpr std::string_view kOptionsWithValue = "BbcDEeFIiJLlmOoPpQRSWw";

// The cleaned text of every line read, once however many machines show it: an answer is the list of
// its lines' numbers, so that equal answers are equal lists, and the text of 256 equal answers is
// held once. Number 0 is the empty line. Numbers no answer holds any more are given again.
//
// Found by the text's hash in an open-addressed table of numbers: a compare of 256 machines looks up
// half a million lines, and a map with a node per line took longer than all the rest of the work.
struct LineTable {
    std::deque<std::string> texts; // by number
    std::vector<uint64_t> hashes;  // by number
    std::vector<uint8_t> used;     // by number: the number stands for a text now
    std::vector<uint32_t> unused;
    std::vector<uint32_t> slots; // number + 1, or 0 for none; a power of two long
    size_t count = 0;            // numbers in use
};
LineTable g_lines;

// The table's hash of a text: keyed with a secret of this run, so that output made to collide (and
// so to make every look-up walk the whole table) cannot be written in advance; and quick, sixteen
// bytes to a multiplication, since every line read is hashed.
uint64_t g_key[2];

uint64_t fold(uint64_t a, uint64_t b)
{
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t text_hash(std::string_view text)
{
    const char *p = text.data();
    size_t n = text.size();
    uint64_t h = g_key[0] ^ n;
    for (; n > 16; p += 16, n -= 16) {
        uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        h = fold(a ^ g_key[0] ^ h, b ^ g_key[1]);
    }
    uint64_t a = 0, b = 0;
    if (n > 0) std::memcpy(&a, p, std::min<size_t>(n, 8)); // an empty text may have no bytes at all
    if (n > 8) std::memcpy(&b, p + 8, n - 8);
    return fold(fold(a ^ g_key[0] ^ h, b ^ g_key[1]), g_key[1] ^ text.size());
}

void slot_in(uint32_t n)
{
    size_t mask = g_lines.slots.size() - 1;
    size_t at = g_lines.hashes[n] & mask;
    while (g_lines.slots[at]) at = (at + 1) & mask;
    g_lines.slots[at] = n + 1;
}

// Lays the table out again, at most a quarter full.
void lines_rehash()
{
    size_t size = 1024;
    while (size < 4 * g_lines.count) size *= 2;
    g_lines.slots.assign(size, 0);
    for (uint32_t n = 0; n < g_lines.texts.size(); ++n)
        if (g_lines.used[n]) slot_in(n);
}

void lines_clear()
{
    if (!g_key[0]) {
        std::random_device random;
        for (uint64_t &k : g_key) k = (uint64_t{random()} << 32 | random()) | 1;
    }
    g_lines = LineTable{};
    g_lines.texts.emplace_back();
    g_lines.hashes.push_back(text_hash(""));
    g_lines.used.push_back(1);
    g_lines.count = 1;
    lines_rehash();
}

uint32_t line_number(std::string_view text)
{
    if (g_lines.texts.empty()) lines_clear();
    uint64_t hash = text_hash(text);
    size_t mask = g_lines.slots.size() - 1;
    for (size_t at = hash & mask; g_lines.slots[at]; at = (at + 1) & mask) {
        uint32_t n = g_lines.slots[at] - 1;
        if (g_lines.hashes[n] == hash && g_lines.texts[n] == text) return n;
    }
    uint32_t n;
    if (!g_lines.unused.empty()) {
        n = g_lines.unused.back();
        g_lines.unused.pop_back();
        g_lines.texts[n] = text;
        g_lines.hashes[n] = hash;
        g_lines.used[n] = 1;
    } else {
        n = static_cast<uint32_t>(g_lines.texts.size());
        g_lines.texts.emplace_back(text);
        g_lines.hashes.push_back(hash);
        g_lines.used.push_back(1);
    }
    ++g_lines.count;
    if (2 * g_lines.count > g_lines.slots.size())
        lines_rehash();
    else
        slot_in(n);
    return n;
}

// Lines are hashed as the digits of a number in base kBase modulo the prime 2^61 - 1. The hash of the
// first n lines read then follows from two running values, so lines are added at the end, dropped at
// the front and the answer cut after any line without going over the lines again.
constexpr uint64_t kPrime = (uint64_t{1} << 61) - 1;
constexpr uint64_t kBase = 0x1F3D5B79A2C4E687ull % kPrime;

uint64_t mul_mod(uint64_t a, uint64_t b)
{
    unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    uint64_t r = static_cast<uint64_t>(product & kPrime) + static_cast<uint64_t>(product >> 61);
    r = (r & kPrime) + (r >> 61);
    return r >= kPrime ? r - kPrime : r;
}

uint64_t pow_mod(uint64_t base, uint64_t exponent)
{
    uint64_t r = 1;
    for (; exponent; exponent >>= 1, base = mul_mod(base, base))
        if (exponent & 1) r = mul_mod(r, base);
    return r;
}

// The hash of the lines so far followed by one more.
uint64_t extend(uint64_t hash, uint32_t line)
{
    uint64_t r = mul_mod(hash, kBase) + line + 1;
    return r >= kPrime ? r - kPrime : r;
}

std::string_view trim_right(std::string_view line)
{
    size_t end = line.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view{} : line.substr(0, end + 1);
}

// The first place from `at` where the bytes c0 and c1 stand one after the other, or npos. Most lines
// hold the first byte of a host name many times and the two together rarely; sixteen places are
// looked at in one step where the processor can.
size_t find_pair(std::string_view line, size_t at, char c0, char c1)
{
    const char *p = line.data();
    size_t n = line.size();
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(c0), second = _mm_set1_epi8(c1);
    for (; at + 17 <= n; at += 16) {
        __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at));
        __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + at + 1));
        int both =
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, first), _mm_cmpeq_epi8(next, second)));
        if (both) return at + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(both)));
    }
#endif
    for (; at + 1 < n; ++at)
        if (p[at] == c0 && p[at + 1] == c1) return at;
    return std::string_view::npos;
}

// Where `name` (not empty) occurs first in `line` from `at` on, or npos.
size_t find_name(std::string_view line, std::string_view name, size_t at)
{
    if (name.size() == 1) return line.find(name[0], at);
    for (;; ++at) {
        at = find_pair(line, at, name[0], name[1]);
        if (at == std::string_view::npos || at + name.size() > line.size()) return std::string_view::npos;
        if (std::memcmp(line.data() + at + 2, name.data() + 2, name.size() - 2) == 0) return at;
    }
}

// The line with every one of `names` (longest first, none empty) replaced by kCompareHost, in one pass;
// where two names start at one place the longer is replaced whole. The line itself when it holds none,
// else the text made in `scratch`.
std::string_view replace_names(std::string_view line, const std::vector<std::string> &names,
                               std::string &scratch)
{
    size_t at = 0;
    bool replaced = false;
    for (;;) {
        size_t best = std::string_view::npos, length = 0;
        for (const std::string &name : names) {
            size_t found = find_name(line, name, at);
            if (found < best) {
                best = found;
                length = name.size();
            }
        }
        if (best == std::string_view::npos) break;
        if (!replaced) scratch.clear();
        replaced = true;
        scratch.append(line.substr(at, best - at));
        scratch += kCompareHost;
        at = best + length;
    }
    if (!replaced) return line;
    scratch.append(line.substr(at));
    return scratch;
}

// The names to look for, longest first, each once (a list name is often the host too).
std::vector<std::string> search_order(std::vector<std::string> names)
{
    std::erase_if(names, [](const std::string &name) { return name.empty(); });
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

// How many of `count` lines after the command make the answer, and whether the prompt came back: the
// prompt is back when the last line that is not empty starts the command's line and adds nothing to
// it; it is left out, with the empty lines before it. `empty(k)` and `raw(k)` tell of line k.
template <typename Empty, typename Raw>
size_t answer_lines(size_t count, std::string_view command, bool &done, Empty empty, Raw raw)
{
    done = false;
    size_t last = count;
    while (last > 0 && empty(last - 1)) --last;
    if (last == 0) return 0;
    if (!command.starts_with(raw(last - 1))) return last;
    done = true;
    --last;
    while (last > 0 && empty(last - 1)) --last;
    return last;
}

// Indices 0..count-1 grouped by `same`, candidates found by `hash`: largest group first, equal sizes
// in the order of their first index.
template <typename Hash, typename Same>
std::vector<std::vector<int>> group_by(size_t count, Hash hash, Same same)
{
    std::unordered_multimap<uint64_t, size_t> by_hash;
    std::vector<std::vector<int>> groups;
    for (size_t i = 0; i < count; ++i) {
        uint64_t h = hash(i);
        auto [first, last] = by_hash.equal_range(h);
        auto found = std::find_if(first, last, [&](const auto &entry) {
            return same(static_cast<size_t>(groups[entry.second].front()), i);
        });
        if (found != last) {
            groups[found->second].push_back(static_cast<int>(i));
        } else {
            by_hash.emplace(h, groups.size());
            groups.push_back({static_cast<int>(i)});
        }
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto &a, const auto &b) { return a.size() > b.size(); });
    return groups;
}

// Takes in the lines that scrolled into the history since the last reading, and lets go of those the
// history no longer keeps: an answer longer than the history is compared on what it keeps.
void take_history(AnswerCache &a, const History &h)
{
    uint64_t begin = history_begin(h), end = history_end(h);
    if (!a.command_fixed && a.command_line < end) {
        if (a.command_line >= begin) a.command = trim_right(history_text(h, a.command_line));
        a.command_fixed = true;
    }
    while (!a.lines.empty() && a.first < begin) {
        a.before = a.prefix.front();
        a.lines.pop_front();
        a.prefix.pop_front();
        ++a.first;
    }
    if (a.lines.empty() && a.first < begin) a.first = begin;
    std::string scratch;
    for (uint64_t line = a.first + a.lines.size(); line < end; ++line) {
        uint32_t n = line_number(replace_names(trim_right(history_text(h, line)), a.names, scratch));
        a.prefix.push_back(extend(a.prefix.empty() ? a.before : a.prefix.back(), n));
        a.lines.push_back(n);
    }
}

// A line numbered as history_mark numbers them: a kept line, or a row of the screen below them.
std::string line_text(const History &h, const TarvikVt *vt, uint64_t line)
{
    uint64_t end = history_end(h);
    if (line < end) return std::string(history_text(h, line));
    std::vector<std::string> rows;
    history_screen_text(vt, static_cast<int>(std::min<uint64_t>(line - end, INT32_MAX)), rows);
    return rows.empty() ? "" : rows.front();
}

// The rows of one line of output, wrapped because it was wider than the terminal, go together: a line
// at most this many rows long is followed to its ends.
constexpr int kMaxWrappedRows = 1000;

// The first line of the answer: the one after the command's line, which goes on over every row the
// terminal wrapped it onto (its echo may come after the mark, as with a paste).
uint64_t answer_begin(const Machine &m)
{
    uint64_t line = m.answer_mark + 1;
    for (int k = 0; k < kMaxWrappedRows && history_line_wrapped(m.history, m.term.get(), line); ++k) ++line;
    return line;
}

// Reads the machine's answer again if its screen or history changed since the last reading.
void read_answer(Machine &m)
{
    AnswerCache &a = m.answer;
    const History &h = m.history;
    const TarvikVt *vt = m.term.get();
    if (a.read && a.version == tarvik_vt_version(vt) && a.history_begin == history_begin(h) &&
        a.history_end == history_end(h) && a.name == m.name && a.connection == m.connection)
        return;
    if (!a.read || a.name != m.name || a.connection != m.connection) {
        // Other names make other lines: read them all again.
        AnswerCache fresh;
        fresh.command_line = a.command_line;
        fresh.command = std::move(a.command);
        fresh.command_fixed = a.command_fixed;
        fresh.name = m.name;
        fresh.connection = m.connection;
        fresh.names = search_order(compare_names(m));
        a = std::move(fresh);
    }
    // Nothing of the answer read yet: its first line may be further on than last time, once the
    // command's echo wrapped onto the rows after the mark.
    uint64_t begin_line = answer_begin(m);
    if (a.lines.empty()) a.first = std::max(begin_line, history_begin(h));
    take_history(a, h);

    uint64_t end = history_end(h);
    int rows = tarvik_vt_rows(vt);
    if (!a.command_fixed) a.command = trim_right(line_text(h, vt, a.command_line));
    std::vector<std::string> screen;
    // The rows still on the screen from the answer's first one, which may be there too.
    int first_row = begin_line >= end ? static_cast<int>(std::min<uint64_t>(begin_line - end, rows)) : 0;
    if (first_row < rows) history_screen_text(vt, first_row, screen);
    std::vector<std::string_view> tail;
    for (const std::string &row : screen) tail.push_back(trim_right(row));

    size_t in_body = a.lines.size();
    auto empty = [&](size_t k) { return k < in_body ? a.lines[k] == 0 : tail[k - in_body].empty(); };
    auto raw = [&](size_t k) {
        return k < in_body ? trim_right(history_text(h, a.first + k)) : tail[k - in_body];
    };
    size_t lines = answer_lines(in_body + tail.size(), a.command, a.done, empty, raw);

    a.body_lines = std::min(lines, in_body);
    a.hash = a.body_lines == 0
                 ? 0
                 : (a.prefix[a.body_lines - 1] + kPrime - mul_mod(a.before, pow_mod(kBase, a.body_lines))) %
                       kPrime;
    a.tail.clear();
    std::string scratch;
    for (size_t k = in_body; k < lines; ++k) {
        a.tail.push_back(line_number(replace_names(tail[k - in_body], a.names, scratch)));
        a.hash = extend(a.hash, a.tail.back());
    }
    a.read = true;
    a.version = tarvik_vt_version(vt);
    a.history_begin = history_begin(h);
    a.history_end = end;
}

size_t answer_size(const AnswerCache &a)
{
    return a.body_lines + a.tail.size();
}

uint32_t answer_line(const AnswerCache &a, size_t k)
{
    return k < a.body_lines ? a.lines[k] : a.tail[k - a.body_lines];
}

bool same_answer(const AnswerCache &a, const AnswerCache &b)
{
    if (answer_size(a) != answer_size(b)) return false;
    if (a.body_lines == b.body_lines)
        return std::equal(a.lines.begin(), a.lines.begin() + static_cast<std::ptrdiff_t>(a.body_lines),
                          b.lines.begin()) &&
               a.tail == b.tail;
    for (size_t k = 0; k < answer_size(a); ++k)
        if (answer_line(a, k) != answer_line(b, k)) return false;
    return true;
}

std::string answer_text(const AnswerCache &a, size_t lines)
{
    std::string text;
    for (size_t k = 0; k < std::min(lines, answer_size(a)); ++k) {
        text += g_lines.texts[answer_line(a, k)];
        text += '\n';
    }
    return text;
}

// Gives back the numbers of lines no answer holds any more, once they are most of the table: a machine
// that prints on and on goes through many more lines than its history keeps.
void lines_collect()
{
    size_t held = 0;
    for (int i = 0; i < mlist_count(); ++i) {
        const AnswerCache &a = mlist_machine(i)->answer;
        held += a.lines.size() + a.tail.size();
    }
    if (g_lines.count <= 2 * held + 4096) return;
    std::vector<uint8_t> held_now(g_lines.texts.size(), 0);
    held_now[0] = 1;
    for (int i = 0; i < mlist_count(); ++i) {
        const AnswerCache &a = mlist_machine(i)->answer;
        for (uint32_t n : a.lines) held_now[n] = 1;
        for (uint32_t n : a.tail) held_now[n] = 1;
    }
    for (uint32_t n = 1; n < held_now.size(); ++n) {
        if (held_now[n] || !g_lines.used[n]) continue;
        std::string().swap(g_lines.texts[n]);
        g_lines.used[n] = 0;
        g_lines.unused.push_back(n);
        --g_lines.count;
    }
    lines_rehash();
}

// The marks in the list are set again at most this often: a redraw comes with every piece of output.
constexpr std::chrono::milliseconds kMarksRefresh{300};

std::chrono::steady_clock::time_point g_last_refresh;
bool g_refresh_due = false; // a refresh was held back: the answers may have changed since the last one

} // namespace

CompareAnswer compare_answer(std::string_view output, const std::vector<std::string> &names)
{
    std::vector<std::string_view> lines;
    for (size_t from = 0; from < output.size();) {
        size_t nl = output.find('\n', from);
        if (nl == std::string_view::npos) nl = output.size();
        lines.push_back(trim_right(output.substr(from, nl - from)));
        from = nl + 1;
    }
    CompareAnswer answer;
    if (lines.empty()) return answer;
    std::vector<std::string> sorted = search_order(names);
    size_t count = answer_lines(
        lines.size() - 1, lines.front(), answer.done, [&](size_t k) { return lines[k + 1].empty(); },
        [&](size_t k) { return lines[k + 1]; });
    std::string scratch;
    for (size_t k = 1; k <= count; ++k) {
        answer.text += replace_names(lines[k], sorted, scratch);
        answer.text += '\n';
    }
    return answer;
}

std::vector<std::vector<int>> compare_group(const std::vector<std::string> &texts)
{
    return group_by(
        texts.size(), [&](size_t i) { return std::hash<std::string>{}(texts[i]); },
        [&](size_t i, size_t j) { return texts[i] == texts[j]; });
}

std::vector<std::string> compare_names(const Machine &m)
{
    std::vector<std::string> names{m.name};
    std::istringstream words(m.connection);
    std::string word;
    while (words >> word) {
        if (word.size() >= 2 && word[0] == '-') {
            // "-p 22" takes the next word, "-p22" does not.
            if (word.size() == 2 && kOptionsWithValue.find(word[1]) != std::string_view::npos) words >> word;
            continue;
        }
        size_t at = word.rfind('@');
        std::string host = at == std::string::npos ? word : word.substr(at + 1);
        if (!host.empty()) {
            names.push_back(host);
            size_t dot = host.find('.');
            bool numeric = host.find_first_not_of("0123456789.") == std::string::npos;
            if (dot != std::string::npos && dot > 0 && !numeric) names.push_back(host.substr(0, dot));
        }
        break;
    }
    return names;
}

void compare_mark_sent()
{
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->answering = m->tagged;
        m->odd_answer = 0;
        m->answer = AnswerCache{};
        if (!m->answering) continue;
        m->answer_mark = history_mark(m->history, m->term.get());
        // The command's line starts where the prompt is, above the cursor when the command wrapped.
        uint64_t line = m->answer_mark;
        for (int k = 0; k < kMaxWrappedRows && line > history_begin(m->history) &&
                        history_line_wrapped(m->history, m->term.get(), line);
             ++k)
            --line;
        m->answer.command_line = line;
        // The prompt, at least, is known now: an answer longer than the history may take the command's
        // line away before anything reads it, and the prompt coming back must still be seen.
        m->answer.command = trim_right(line_text(m->history, m->term.get(), line));
    }
    lines_clear();
    g_last_refresh = {};
}

CompareState compare_state(size_t text_lines)
{
    CompareState state;
    std::vector<Machine *> answered;
    std::vector<int> index;
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->odd_answer = 0;
        if (!m->answering) continue;
        state.any = true;
        read_answer(*m);
        if (m->answer_mark + 1 < history_begin(m->history)) state.clipped = true;
        // A dead machine's answer is all it will ever say.
        if (!m->answer.done && m->alive) {
            state.printing.push_back(i);
            continue;
        }
        answered.push_back(m);
        index.push_back(i);
    }
    auto groups = group_by(
        answered.size(), [&](size_t k) { return answered[k]->answer.hash; },
        [&](size_t k, size_t l) { return same_answer(answered[k]->answer, answered[l]->answer); });
    for (const std::vector<int> &group : groups) {
        CompareGroup g;
        for (int k : group) g.machines.push_back(index[static_cast<size_t>(k)]);
        const AnswerCache &answer = answered[static_cast<size_t>(group.front())]->answer;
        g.text = answer_text(answer, text_lines);
        g.lines = answer_size(answer);
        state.groups.push_back(std::move(g));
    }
    for (size_t k = 1; k < state.groups.size(); ++k)
        for (int i : state.groups[k].machines) mlist_machine(i)->odd_answer = 1;
    lines_collect();
    return state;
}

std::string compare_answer_text(int i)
{
    if (i < 0 || i >= mlist_count() || !mlist_machine(i)->answering) return "";
    return answer_text(mlist_machine(i)->answer, SIZE_MAX);
}

CompareDifference compare_difference(int a, int b)
{
    CompareDifference d;
    const Machine *ma = mlist_machine(a), *mb = mlist_machine(b);
    if (!ma || !mb) return d;
    const AnswerCache &x = ma->answer, &y = mb->answer;
    size_t n = std::min(answer_size(x), answer_size(y));
    while (d.line < n && answer_line(x, d.line) == answer_line(y, d.line)) ++d.line;
    if (d.line == n) return d;
    const std::string &s = g_lines.texts[answer_line(x, d.line)], &t = g_lines.texts[answer_line(y, d.line)];
    while (d.offset < s.size() && d.offset < t.size() && s[d.offset] == t[d.offset]) ++d.offset;
    while (d.offset > 0 && (static_cast<unsigned char>(t[d.offset]) & 0xC0) == 0x80) --d.offset;
    return d;
}

void compare_refresh_marks()
{
    bool any = false;
    for (int i = 0; i < mlist_count() && !any; ++i) any = mlist_machine(i)->answering;
    g_refresh_due = false;
    if (!any) return;
    auto now = std::chrono::steady_clock::now();
    if (now - g_last_refresh < kMarksRefresh) {
        g_refresh_due = true;
        return;
    }
    g_last_refresh = now;
    compare_state(0);
}

int compare_marks_due_ms()
{
    if (!g_refresh_due) return -1;
    auto left = g_last_refresh + kMarksRefresh - std::chrono::steady_clock::now();
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(
        0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}
