// Matching a name against a glob by walking every position the glob can have reached at once, so that
// stars and ranges of digits never send it backtracking.
#include "machines/match.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "machines/hostrange.h"

namespace {

enum class Kind { Text, AnyText, AnyChar, Set, Range };

struct Token {
    Kind kind = Kind::Text;
    std::string text;     // Text: the bytes to find; Set: its members as written
    bool outside = false; // Set: matches a character that is not a member
    std::vector<HostRangeItem> range;
    size_t digits = 0; // Range: the longest number it can stand for
};

// A byte that starts no UTF-8 character is one character of its own, apart from every code point.
constexpr uint32_t kLoneByte = 0x110000;

// The UTF-8 character at s[at]: its length, and its code point in `cp`.
size_t char_at(std::string_view s, size_t at, uint32_t &cp)
{
    const auto lead = static_cast<unsigned char>(s[at]);
    const size_t len = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
    cp = kLoneByte + lead;
    if (len == 0 || at + len > s.size()) return 1;
    uint32_t value = len == 1 ? lead : lead & (0x7Fu >> len);
    for (size_t i = 1; i < len; ++i) {
        const auto next = static_cast<unsigned char>(s[at + i]);
        if ((next & 0xC0) != 0x80) return 1;
        value = value << 6 | (next & 0x3F);
    }
    cp = value;
    return len;
}

bool in_set(std::string_view set, uint32_t cp)
{
    for (size_t p = 0; p < set.size();) {
        uint32_t low, high;
        p += char_at(set, p, low);
        high = low;
        // "a-" ends with a member "-", not a range.
        if (p + 1 < set.size() && set[p] == '-') p += 1 + char_at(set, p + 1, high);
        if (cp >= low && cp <= high) return true;
    }
    return false;
}

// Where the bracket opened at glob[at] closes, or npos: a "]" first in it (after "!" or "^") is a member.
size_t bracket_end(std::string_view glob, size_t at)
{
    size_t p = at + 1;
    if (p < glob.size() && (glob[p] == '!' || glob[p] == '^')) ++p;
    if (p < glob.size() && glob[p] == ']') ++p;
    return glob.find(']', p);
}

Token token(Kind kind)
{
    Token t;
    t.kind = kind;
    return t;
}

Token bracket(std::string_view inside)
{
    Token t = token(Kind::Range);
    if (hostrange_items(inside, t.range)) {
        for (const HostRangeItem &item : t.range)
            t.digits = std::max({t.digits, item.width, std::to_string(item.high).size()});
        return t;
    }
    t.kind = Kind::Set;
    t.outside = !inside.empty() && (inside[0] == '!' || inside[0] == '^');
    t.text = inside.substr(t.outside ? 1 : 0);
    return t;
}

std::vector<Token> tokens_of(std::string_view glob)
{
    std::vector<Token> tokens;
    auto literal = [&](std::string_view bytes) {
        if (tokens.empty() || tokens.back().kind != Kind::Text) tokens.push_back(token(Kind::Text));
        tokens.back().text += bytes;
    };
    for (size_t i = 0; i < glob.size();) {
        const char c = glob[i];
        size_t end;
        if (c == '*') {
            if (tokens.empty() || tokens.back().kind != Kind::AnyText) tokens.push_back(token(Kind::AnyText));
            ++i;
        } else if (c == '?') {
            tokens.push_back(token(Kind::AnyChar));
            ++i;
        } else if (c == '\\' && i + 1 < glob.size()) {
            literal(glob.substr(i + 1, 1));
            i += 2;
        } else if (c == '[' && (end = bracket_end(glob, i)) != std::string_view::npos) {
            tokens.push_back(bracket(glob.substr(i + 1, end - i - 1)));
            i = end + 1;
        } else {
            literal(glob.substr(i, 1));
            ++i;
        }
    }
    return tokens;
}

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

MatchPattern match_parse(std::string_view typed)
{
    MatchPattern p;
    p.negated = !typed.empty() && (typed[0] == '!' || typed[0] == '-');
    p.glob = typed.substr(p.negated ? 1 : 0);
    return p;
}

bool match_name(std::string_view glob, std::string_view name)
{
    const std::vector<Token> tokens = tokens_of(glob);
    const size_t n = name.size();
    // reached[j]: the tokens so far can match name[0, j).
    std::vector<char> reached(n + 1, 0), next(n + 1);
    reached[0] = 1;
    for (const Token &t : tokens) {
        std::fill(next.begin(), next.end(), 0);
        bool any = false;
        for (size_t j = 0; j <= n; ++j) {
            if (!reached[j]) continue;
            any = true;
            if (t.kind == Kind::AnyText) {
                std::fill(next.begin() + static_cast<std::ptrdiff_t>(j), next.end(), 1);
                break;
            }
            if (t.kind == Kind::Text) {
                if (name.substr(j).starts_with(t.text)) next[j + t.text.size()] = 1;
            } else if (t.kind == Kind::Range) {
                for (size_t k = j; k < n && k - j < t.digits && is_digit(name[k]); ++k)
                    if (hostrange_holds(t.range, name.substr(j, k + 1 - j))) next[k + 1] = 1;
            } else if (j < n) {
                uint32_t cp;
                const size_t len = char_at(name, j, cp);
                if (t.kind == Kind::AnyChar || in_set(t.text, cp) != t.outside) next[j + len] = 1;
            }
        }
        if (!any) return false;
        reached.swap(next);
    }
    return reached[n] != 0;
}
