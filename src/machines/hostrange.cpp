// Expanding the bracket ranges of a name.
#include "machines/hostrange.h"

#include <algorithm>

namespace {

// One bracket of the text that holds a range: where it starts and how long it is, brackets included.
struct Range {
    size_t at, len;
    std::vector<HostRangeItem> items;
};

// Reads the decimal number at `p`; false when there is none or it does not fit in 64 bits.
bool read_number(std::string_view s, size_t &p, uint64_t &value, size_t &width)
{
    size_t from = p;
    uint64_t v = 0;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        auto digit = static_cast<uint64_t>(s[p] - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
        ++p;
    }
    if (p == from) return false;
    value = v;
    width = p - from;
    return true;
}

std::vector<Range> find_ranges(const std::string &text)
{
    std::vector<Range> ranges;
    size_t at = text.find('[');
    while (at != std::string::npos) {
        size_t close = text.find(']', at + 1);
        if (close == std::string::npos) break;
        Range r{at, close - at + 1, {}};
        std::string_view inside(text.data() + at + 1, close - at - 1);
        if (hostrange_items(inside, r.items)) {
            ranges.push_back(std::move(r));
            at = text.find('[', close + 1);
        } else {
            // Taken as written; a bracket inside may still open a range.
            at = text.find('[', at + 1);
        }
    }
    return ranges;
}

// Where one range stands in the counting: its item and the number within it.
struct Position {
    size_t item;
    uint64_t value;
};

void append_number(std::string &out, uint64_t value, size_t width)
{
    std::string digits = std::to_string(value);
    if (digits.size() < width) out.append(width - digits.size(), '0');
    out += digits;
}

// Moves to the next number like an odometer, the last range fastest; false after the last name.
bool next_number(const std::vector<Range> &ranges, std::vector<Position> &at)
{
    for (size_t i = ranges.size(); i-- > 0;) {
        const std::vector<HostRangeItem> &items = ranges[i].items;
        Position &p = at[i];
        // Compared before adding, so a range ending at the largest 64-bit number never wraps.
        if (p.value < items[p.item].high) {
            ++p.value;
            return true;
        }
        if (p.item + 1 < items.size()) {
            ++p.item;
            p.value = items[p.item].low;
            return true;
        }
        p = {0, items[0].low};
    }
    return false;
}

} // namespace

bool hostrange_items(std::string_view s, std::vector<HostRangeItem> &items)
{
    size_t p = 0;
    for (;;) {
        HostRangeItem item;
        size_t ignored;
        if (!read_number(s, p, item.low, item.width)) return false;
        item.high = item.low;
        if (p < s.size() && s[p] == '-') {
            ++p;
            // A range going down is no range.
            if (!read_number(s, p, item.high, ignored) || item.high < item.low) return false;
        }
        items.push_back(item);
        if (p == s.size()) return true;
        if (s[p++] != ',') return false;
    }
}

bool hostrange_holds(const std::vector<HostRangeItem> &items, std::string_view digits)
{
    size_t p = 0, width = 0;
    uint64_t value = 0;
    if (!read_number(digits, p, value, width) || p != digits.size()) return false;
    for (const HostRangeItem &item : items) {
        if (value < item.low || value > item.high) continue;
        std::string written;
        append_number(written, value, item.width);
        if (written == digits) return true;
    }
    return false;
}

std::vector<std::string> hostrange_expand(const std::string &text, size_t max)
{
    std::vector<std::string> names;
    if (max == 0) return names;
    std::vector<Range> ranges = find_ranges(text);
    if (ranges.empty()) {
        names.push_back(text);
        return names;
    }
    std::vector<Position> at;
    for (const Range &r : ranges) at.push_back({0, r.items[0].low});
    do {
        std::string name;
        size_t from = 0;
        for (size_t i = 0; i < ranges.size(); ++i) {
            name.append(text, from, ranges[i].at - from);
            append_number(name, at[i].value, ranges[i].items[at[i].item].width);
            from = ranges[i].at + ranges[i].len;
        }
        name.append(text, from);
        names.push_back(std::move(name));
    } while (names.size() < max && next_number(ranges, at));
    return names;
}

namespace {

// A name cut around its last run of digits.
struct Numbered {
    std::string head, tail;
    size_t width = 0; // digits as written; 0 when the name has none or too many to count on
    uint64_t number = 0;
};

Numbered cut_name(const std::string &name)
{
    Numbered n;
    size_t end = name.find_last_of("0123456789");
    if (end == std::string::npos) {
        n.head = name;
        return n;
    }
    size_t begin = end;
    while (begin > 0 && name[begin - 1] >= '0' && name[begin - 1] <= '9') --begin;
    size_t p = begin, width = 0;
    if (end - begin + 1 > 18 || !read_number(name, p, n.number, width)) {
        n.head = name;
        return n;
    }
    n.head = name.substr(0, begin);
    n.tail = name.substr(end + 1);
    n.width = width;
    return n;
}

std::string padded(uint64_t number, size_t width)
{
    std::string digits = std::to_string(number);
    return std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits;
}

} // namespace

std::string hostrange_compress(const std::vector<std::string> &names)
{
    struct Kind {
        Numbered key;
        std::vector<uint64_t> numbers;
    };
    std::vector<Kind> kinds;
    for (const std::string &name : names) {
        Numbered n = cut_name(name);
        auto same = [&](const Kind &k) {
            return k.key.width == n.width && k.key.head == n.head && k.key.tail == n.tail && n.width != 0;
        };
        auto kind = std::find_if(kinds.begin(), kinds.end(), same);
        if (kind == kinds.end()) {
            kinds.push_back({n, {}});
            kind = kinds.end() - 1;
        }
        kind->numbers.push_back(n.number);
    }
    std::string out;
    for (Kind &k : kinds) {
        if (!out.empty()) out += ',';
        std::sort(k.numbers.begin(), k.numbers.end());
        k.numbers.erase(std::unique(k.numbers.begin(), k.numbers.end()), k.numbers.end());
        if (k.key.width == 0 || k.numbers.size() == 1) {
            out +=
                k.key.width == 0 ? k.key.head : k.key.head + padded(k.numbers[0], k.key.width) + k.key.tail;
            continue;
        }
        out += k.key.head + '[';
        for (size_t i = 0; i < k.numbers.size();) {
            size_t j = i;
            while (j + 1 < k.numbers.size() && k.numbers[j + 1] == k.numbers[j] + 1) ++j;
            if (i > 0) out += ',';
            out += padded(k.numbers[i], k.key.width);
            if (j > i) out += '-' + padded(k.numbers[j], k.key.width);
            i = j + 1;
        }
        out += ']' + k.key.tail;
    }
    return out;
}
