// Grouping the machines' answers to the last multicast command.
//
// A machine's answer is read in two parts: the lines that scrolled into its history since the mark,
// which never change once there and so are read, cleaned and hashed once (AnswerCache), and the rows
// still on its screen, read again only when the screen changed. The hash of an answer's lines finds
// the machines whose answers may be equal; the lines decide.
#include "machines/compare.h"

#include "base/clock.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>
#include <functional>
#include <sstream>
#include <unordered_map>

#include "machines/history.h"
#include "machines/lines.h"
#include "machines/mlist.h"

namespace {

// ssh options that take the next word as their value: that word is not the destination.
constexpr std::string_view kOptionsWithValue = "BbcDEeFIiJLlmOoPpQRSWw";

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
        uint32_t n = lines_number(
            lines_replace_names(trim_right(history_text(h, line)), a.names, kCompareHost, scratch));
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
    uint64_t line = m.answer.mark + 1;
    for (int k = 0; k < kMaxWrappedRows && history_line_wrapped(m.history, m.term.get(), line); ++k) ++line;
    return line;
}

// Reads the machine's answer again if its screen or history changed since the last reading.
void read_answer(Machine &m)
{
    AnswerCache &a = m.answer.cache;
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
        fresh.names = lines_search_order(compare_names(m));
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
        a.tail.push_back(
            lines_number(lines_replace_names(tail[k - in_body], a.names, kCompareHost, scratch)));
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
        text += lines_text(answer_line(a, k));
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
        const AnswerCache &a = mlist_machine(i)->answer.cache;
        held += a.lines.size() + a.tail.size();
    }
    if (lines_count() <= 2 * held + 4096) return;
    std::vector<uint8_t> held_now(lines_capacity(), 0);
    for (int i = 0; i < mlist_count(); ++i) {
        const AnswerCache &a = mlist_machine(i)->answer.cache;
        for (uint32_t n : a.lines) held_now[n] = 1;
        for (uint32_t n : a.tail) held_now[n] = 1;
    }
    lines_release(held_now);
}

// The answers are read again at most this often while machines print: the list's marks and the view
// follow them, and a piece of output comes with every turn.
constexpr long kRefreshMs = 300;

CompareState g_current;
unsigned long g_version = 1;
long g_last_refresh = -kRefreshMs;
// What the answers were read from at the last refresh: each answering machine's screen version, the
// end of its history and whether it lives. Another value means they may have changed.
std::vector<uint64_t> g_read_from, g_now;

void answers_source(std::vector<uint64_t> &out)
{
    out.clear();
    for (int i = 0; i < mlist_count(); ++i) {
        const Machine *m = mlist_machine(i);
        if (!m->answer.answering) continue;
        out.push_back(static_cast<uint64_t>(i));
        out.push_back(tarvik_vt_version(m->term.get()));
        out.push_back(history_end(m->history) << 1 | (m->alive ? 1 : 0));
    }
}

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
    std::vector<std::string> sorted = lines_search_order(names);
    size_t count = answer_lines(
        lines.size() - 1, lines.front(), answer.done, [&](size_t k) { return lines[k + 1].empty(); },
        [&](size_t k) { return lines[k + 1]; });
    std::string scratch;
    for (size_t k = 1; k <= count; ++k) {
        answer.text += lines_replace_names(lines[k], sorted, kCompareHost, scratch);
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

std::string compare_host(const Machine &m)
{
    std::istringstream words(m.connection);
    std::string word;
    while (words >> word) {
        if (word.size() >= 2 && word[0] == '-') {
            // "-p 22" takes the next word, "-p22" does not.
            if (word.size() == 2 && kOptionsWithValue.find(word[1]) != std::string_view::npos) words >> word;
            continue;
        }
        size_t at = word.rfind('@');
        return at == std::string::npos ? word : word.substr(at + 1);
    }
    return "";
}

std::vector<std::string> compare_names(const Machine &m)
{
    std::vector<std::string> names{m.name};
    std::string host = compare_host(m);
    if (!host.empty()) {
        names.push_back(host);
        size_t dot = host.find('.');
        bool numeric = host.find_first_not_of("0123456789.") == std::string::npos;
        if (dot != std::string::npos && dot > 0 && !numeric) names.push_back(host.substr(0, dot));
    }
    return names;
}

void compare_mark_sent()
{
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->answer.answering = m->tagged;
        m->answer.odd = false;
        m->answer.cache = AnswerCache{};
        if (!m->answer.answering) continue;
        m->answer.mark = history_mark(m->history, m->term.get());
        // The command's line starts where the prompt is, above the cursor when the command wrapped.
        uint64_t line = m->answer.mark;
        for (int k = 0; k < kMaxWrappedRows && line > history_begin(m->history) &&
                        history_line_wrapped(m->history, m->term.get(), line);
             ++k)
            --line;
        m->answer.cache.command_line = line;
        // The prompt, at least, is known now: an answer longer than the history may take the command's
        // line away before anything reads it, and the prompt coming back must still be seen.
        m->answer.cache.command = trim_right(line_text(m->history, m->term.get(), line));
    }
    lines_clear();
    // The answers to the command before are gone; the new ones are read at the next refresh.
    g_current = CompareState{};
    g_read_from.clear();
    g_last_refresh = -kRefreshMs;
    ++g_version;
}

CompareState compare_state(size_t text_lines)
{
    CompareState state;
    std::vector<Machine *> answered;
    std::vector<int> index;
    for (int i = 0; i < mlist_count(); ++i) {
        Machine *m = mlist_machine(i);
        m->answer.odd = false;
        if (!m->answer.answering) continue;
        state.any = true;
        read_answer(*m);
        if (m->answer.mark + 1 < history_begin(m->history)) state.clipped = true;
        // A dead machine's answer is all it will ever say.
        if (!m->answer.cache.done && m->alive) {
            state.printing.push_back(i);
            continue;
        }
        answered.push_back(m);
        index.push_back(i);
    }
    auto groups = group_by(
        answered.size(), [&](size_t k) { return answered[k]->answer.cache.hash; },
        [&](size_t k, size_t l) {
            return same_answer(answered[k]->answer.cache, answered[l]->answer.cache);
        });
    for (const std::vector<int> &group : groups) {
        CompareGroup g;
        for (int k : group) g.machines.push_back(index[static_cast<size_t>(k)]);
        const AnswerCache &answer = answered[static_cast<size_t>(group.front())]->answer.cache;
        g.text = answer_text(answer, text_lines);
        g.lines = answer_size(answer);
        state.groups.push_back(std::move(g));
    }
    for (size_t k = 1; k < state.groups.size(); ++k)
        for (int i : state.groups[k].machines) mlist_machine(i)->answer.odd = true;
    lines_collect();
    return state;
}

std::string compare_answer_text(int i)
{
    if (i < 0 || i >= mlist_count() || !mlist_machine(i)->answer.answering) return "";
    return answer_text(mlist_machine(i)->answer.cache, SIZE_MAX);
}

CompareDifference compare_difference(int a, int b)
{
    CompareDifference d;
    const Machine *ma = mlist_machine(a), *mb = mlist_machine(b);
    if (!ma || !mb) return d;
    const AnswerCache &x = ma->answer.cache, &y = mb->answer.cache;
    size_t n = std::min(answer_size(x), answer_size(y));
    while (d.line < n && answer_line(x, d.line) == answer_line(y, d.line)) ++d.line;
    if (d.line == n) return d;
    const std::string &s = lines_text(answer_line(x, d.line)), &t = lines_text(answer_line(y, d.line));
    while (d.offset < s.size() && d.offset < t.size() && s[d.offset] == t[d.offset]) ++d.offset;
    while (d.offset > 0 && (static_cast<unsigned char>(t[d.offset]) & 0xC0) == 0x80) --d.offset;
    return d;
}

void compare_note_sent(const std::string &bytes)
{
    // A carriage return, or the Ctrl-J that a shell takes as Enter too.
    if (mlist_multicast() && bytes.find_first_of("\r\n") != std::string::npos) compare_mark_sent();
}

void compare_refresh()
{
    g_last_refresh = clock_now_ms();
    answers_source(g_read_from);
    g_current = compare_state(0);
    ++g_version;
}

int compare_due_ms()
{
    answers_source(g_now);
    if (g_now == g_read_from) return -1;
    return static_cast<int>(std::max(0L, g_last_refresh + kRefreshMs - clock_now_ms()));
}

const CompareState &compare_current()
{
    return g_current;
}

unsigned long compare_version()
{
    return g_version;
}

std::string compare_group_text(const CompareGroup &group, size_t lines)
{
    const Machine *m = group.machines.empty() ? nullptr : mlist_machine(group.machines.front());
    return m ? answer_text(m->answer.cache, lines) : std::string();
}
