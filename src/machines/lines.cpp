// The line table: the cleaned text of every line the answers hold, held once and known by a number, and
// finding a machine's names in a line.
#include "machines/lines.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

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

void table_clear()
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

uint32_t table_number(std::string_view text)
{
    if (g_lines.texts.empty()) table_clear();
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

} // namespace

uint32_t lines_number(std::string_view text)
{
    return table_number(text);
}

const std::string &lines_text(uint32_t n)
{
    return g_lines.texts[n];
}

void lines_clear()
{
    table_clear();
}

size_t lines_count()
{
    return g_lines.count;
}

size_t lines_capacity()
{
    return g_lines.texts.size();
}

void lines_release(const std::vector<uint8_t> &held)
{
    for (uint32_t n = 1; n < held.size() && n < g_lines.texts.size(); ++n) {
        if (held[n] || !g_lines.used[n]) continue;
        std::string().swap(g_lines.texts[n]);
        g_lines.used[n] = 0;
        g_lines.unused.push_back(n);
        --g_lines.count;
    }
    lines_rehash();
}

std::string_view lines_replace_names(std::string_view line, const std::vector<std::string> &names,
                                     std::string_view with, std::string &scratch)
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
        scratch += with;
        at = best + length;
    }
    if (!replaced) return line;
    scratch.append(line.substr(at));
    return scratch;
}

std::vector<std::string> lines_search_order(std::vector<std::string> names)
{
    std::erase_if(names, [](const std::string &name) { return name.empty(); });
    std::sort(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}
