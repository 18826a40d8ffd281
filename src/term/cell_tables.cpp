// The looks and the clusters (a character with its combining marks) that a screen's cells name by
// number. A screen shows few looks at a time, so a cell holds a number rather than its colours and
// attributes; marks are rare, so the cell that has some holds a number rather than room for them all.
#include <algorithm>

#include "term/vt_internal.h"

namespace {

// Tables are collected only once they hold more than this, so that a screen with a few looks never
// looks through its cells for them.
constexpr size_t kMinStylesLimit = 256, kMinClustersLimit = 64;

size_t hash_style(const VtStyle &s)
{
    uint64_t h = (static_cast<uint64_t>(s.fg) * 0x9E3779B97F4A7C15ull) ^ (static_cast<uint64_t>(s.bg) << 17) ^
                 (static_cast<uint64_t>(s.attrs) * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(h ^ (h >> 29));
}

// Makes the index again for the styles there are, with room for twice as many.
void reindex(VtCellTables &t)
{
    size_t size = 8;
    while (size < 2 * t.styles.size() + 2) size *= 2;
    t.index.assign(size, 0);
    for (size_t i = 0; i < t.styles.size(); ++i) {
        size_t slot = hash_style(t.styles[i]) & (size - 1);
        while (t.index[slot]) slot = (slot + 1) & (size - 1);
        t.index[slot] = static_cast<uint32_t>(i + 1);
    }
}

// Calls `each` with every cell of a buffer that names something, its fill included (as a cell).
template <typename F> void for_each_cell(VtBuffer &buf, F each)
{
    for (VtRow &r : buf.rows) {
        VtCell fill{0, r.fill};
        each(fill);
        r.fill = fill.style;
        for (VtCell &c : r.cells) each(c);
    }
}

// New numbers for what is still named (`to` holds kNone for the rest, anything else for the named):
// the table keeps those entries in the order of their old numbers and shrinks to them, and its next
// collection waits until it holds twice as many, or `least`.
constexpr uint32_t kNone = 0xFFFFFFFFu;

template <typename Entry>
void keep_named(std::vector<Entry> &table, std::vector<uint32_t> &to, size_t &limit, size_t least)
{
    size_t n = 0;
    for (size_t i = 0; i < to.size(); ++i)
        if (to[i] != kNone) {
            table[n] = table[i];
            to[i] = static_cast<uint32_t>(n++);
        }
    table.resize(n);
    table.shrink_to_fit();
    limit = std::max(least, 2 * n);
}

} // namespace

void cell_tables_init(VtCellTables &t)
{
    t = VtCellTables{};
    t.styles.push_back(VtStyle{});
    t.styles_limit = kMinStylesLimit;
    t.clusters_limit = kMinClustersLimit;
    reindex(t);
}

uint32_t cell_tables_style(VtCellTables &t, const VtStyle &s)
{
    if (s == t.last_style) return t.last_id;
    size_t mask = t.index.size() - 1;
    size_t slot = hash_style(s) & mask;
    for (; t.index[slot]; slot = (slot + 1) & mask) {
        uint32_t id = t.index[slot] - 1;
        if (t.styles[id] == s) {
            t.last_style = s;
            t.last_id = id;
            return id;
        }
    }
    auto id = static_cast<uint32_t>(t.styles.size());
    t.styles.push_back(s);
    if (2 * t.styles.size() + 2 > t.index.size())
        reindex(t);
    else
        t.index[slot] = id + 1;
    t.last_style = s;
    t.last_id = id;
    return id;
}

uint32_t cell_tables_cluster(VtCellTables &t, const uint32_t *chars)
{
    std::array<uint32_t, VTERM_MAX_CHARS_PER_CELL> c{};
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && chars[i]; ++i) c[static_cast<size_t>(i)] = chars[i];
    // A mark after many of the same character (a decomposed accent in a language's text) finds the
    // cluster the one before made.
    if (t.clusters.empty() || t.clusters.back() != c) t.clusters.push_back(c);
    return kClusterBit | static_cast<uint32_t>(t.clusters.size() - 1);
}

void cell_tables_collect(VtCellTables &t, VtBuffer &primary, VtBuffer &alt)
{
    bool styles = t.styles.size() > t.styles_limit, clusters = t.clusters.size() > t.clusters_limit;
    if (!styles && !clusters) return;
    std::vector<uint32_t> style_to(styles ? t.styles.size() : 0, kNone);
    std::vector<uint32_t> cluster_to(clusters ? t.clusters.size() : 0, kNone);
    auto mark = [&](VtCell &c) {
        if (styles) style_to[c.style] = 0;
        if (clusters && (c.ch & kClusterBit) && c.ch != kCoveredChar) cluster_to[c.ch & ~kClusterBit] = 0;
    };
    for_each_cell(primary, mark);
    for_each_cell(alt, mark);
    if (styles) {
        style_to[0] = 0; // the default look keeps its number
        keep_named(t.styles, style_to, t.styles_limit, kMinStylesLimit);
        t.last_style = t.styles[0];
        t.last_id = 0;
        reindex(t);
    }
    if (clusters) keep_named(t.clusters, cluster_to, t.clusters_limit, kMinClustersLimit);
    auto renumber = [&](VtCell &c) {
        if (styles) c.style = style_to[c.style];
        if (clusters && (c.ch & kClusterBit) && c.ch != kCoveredChar)
            c.ch = kClusterBit | cluster_to[c.ch & ~kClusterBit];
    };
    for_each_cell(primary, renumber);
    for_each_cell(alt, renumber);
}
