// The lines the answers are made of: each cleaned text held once, however many machines show it, and
// known by a number (equal numbers, equal texts; 0 is the empty line), so that equal answers are equal
// lists of numbers. And finding a machine's own names in a line, which cleaning replaces.
//
// Found by the text's hash in an open-addressed table: a compare of 256 machines looks up half a million
// lines, and a map with a node per line took longer than all the rest of the work. The hash is keyed with
// a secret of the run, so that output cannot be written in advance to make every look-up walk the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The number of the text, given a new one when the table has none for it.
uint32_t lines_number(std::string_view text);
// The text a number stands for; valid until the next lines_number, lines_clear or lines_release.
const std::string &lines_text(uint32_t n);
// Forgets every number but 0.
void lines_clear();
// How many numbers stand for a text now, and how many were ever given (the size a list of them takes).
size_t lines_count();
size_t lines_capacity();
// Gives back the numbers that `held` (one entry per number) does not mark: they may stand for other texts
// from now on.
void lines_release(const std::vector<uint8_t> &held);

// The names to look for, longest first, none empty, each once (a list name is often the host too).
std::vector<std::string> lines_search_order(std::vector<std::string> names);
// The line with every one of `names` (as lines_search_order gives them) replaced by `with`, in one pass;
// where two names start at one place the longer is replaced whole. The line itself when it holds none,
// else the text made in `scratch`.
std::string_view lines_replace_names(std::string_view line, const std::vector<std::string> &names,
                                     std::string_view with, std::string &scratch);
