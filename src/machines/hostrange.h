// Host ranges: one name standing for several machines, as "web[01-12]" stands for web01 to web12.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The names a text stands for, in order. Brackets holding numbers and ascending ranges separated by
// commas ("[1-3,7,10-11]") give one name per number, zero-padded to the width of the item's first
// number; several such brackets multiply, the last varying fastest. Anything else in brackets stays
// as written, and a text without a range stands for itself. At most `max` names are made, and a
// range far larger than that costs no more than they do.
std::vector<std::string> hostrange_expand(const std::string &text, size_t max);

// The other way: names written as few texts as they allow, joined by ",". Names that differ only in
// their last run of digits, written with the same number of digits, share one bracket of ascending
// numbers and ranges ("web01", "web02", "web03", "web07" give "web[01-03,07]"); a name alone in its
// kind stays as written. The texts come in the order of their first name.
std::string hostrange_compress(const std::vector<std::string> &names);

// One item of a bracket's range list: the numbers low to high, each written with at least `width`
// digits (the digits of `low` as written).
struct HostRangeItem {
    uint64_t low, high;
    size_t width;
};

// The items of the text between a pair of brackets ("1-3,7,10-11"); false unless it is a range list
// throughout, as hostrange_expand reads it.
bool hostrange_items(std::string_view inside, std::vector<HostRangeItem> &items);

// Whether `digits` is one of the numbers of the items written as hostrange_expand writes it: "01-12"
// holds "07" but not "7", "8-10" holds "9" but not "09".
bool hostrange_holds(const std::vector<HostRangeItem> &items, std::string_view digits);
