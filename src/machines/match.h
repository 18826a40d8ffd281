// Machine names against a pattern the user types: shell-style wildcards, sets and host ranges.
#pragma once

#include <string>
#include <string_view>

// A pattern as typed at a prompt. A leading "!" or "-" is no part of the glob: it asks the command for
// the other way (untag instead of tag, a name that does not match).
struct MatchPattern {
    std::string glob;
    bool negated = false;
};

MatchPattern match_parse(std::string_view typed);

// Whether the whole name matches the glob: "*" any text, "?" one character, "[...]" a host range when
// it holds one ("[01-12]": 01 to 12 as written) and else one character of a set ("[a-c]", "[!0-9]"),
// "\" the next character as it is; characters are UTF-8, a byte that is none counts as one. The cost
// grows with the glob's length times the name's, whatever the glob.
bool match_name(std::string_view glob, std::string_view name);
