// Names against patterns as typed at the prompts: wildcards, sets, host ranges as written, negation.
#include "machines/match.h"

#include <gtest/gtest.h>

namespace {

TEST(Match, WholeNamesAgainstWildcardsSetsRangesAndNegation)
{
    struct Case {
        const char *typed, *name;
        bool matches; // with a leading "!" or "-": does not match
    };
    const Case cases[] = {
        {"web*", "web01", true},
        {"web*", "admin@web01", false}, // the whole name, as in a shell
        {"*prod*", "db3.prod.example", true},
        {"", "a", false},
        {"db?", "db10", false},
        {"?b", "\303\251b", true}, // one character, not one byte
        {"?b", "\377b", true},     // a byte that is no character is one
        // Host ranges: numbers, not characters, written as adding writes them.
        {"web[01-12]", "web07", true},
        {"web[01-12]", "web7", false},
        {"web[01-12]", "web13", false},
        {"web[1-12]", "web011", false},
        {"db[1-3,7,10-11]", "db10", true},
        {"db[13]", "db13", true}, // as web[13] adds web13
        {"db[13]", "db1", false},
        {"r[1-2]n[1-3]", "r2n3", true},
        {"n[1-3]0", "n20", true}, // the range takes "2", not the longer "20"
        {"h[18446744073709551615]", "h18446744073709551615", true},
        // Sets: what is no range is one character of a set.
        {"web[a-c]", "webb", true},
        {"web[!0-9]", "web5", false},
        {"[]x]", "]", true},
        {"[\xc3\xa9\xc3\xa8]", "\xc3\xa8", true},
        {"web[3-1]", "web2", false},
        // Escapes, and brackets that close nowhere, are plain text.
        {"a\\*", "ab", false},
        {"web[1-3", "web[1-3", true},
        // A leading ! or - turns the answer round; escaped, it is part of the name.
        {"!web*", "db1", true},
        {"-web*", "web1", false},
        {"!!x", "!x", false},
        {"\\-p*", "-p 2222 web1", true},
        // Stars never backtrack without end: the walk is linear.
        {"*a*a*a*a*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", false},
    };
    for (const Case &c : cases) {
        const MatchPattern p = match_parse(c.typed);
        EXPECT_EQ(match_name(p.glob, c.name) != p.negated, c.matches) << c.typed << " " << c.name;
    }
}

} // namespace
