// What the fuzzers check for each input, shared with the tests that replay the inputs they were seeded
// with and the ones that once broke something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Makes the one curses screen both fuzzers draw on, for the whole process, in the program's input
// modes and with a 256-colour terminal description; does nothing the second time.
void fuzz_screen_once();

// Feeds the input to a fresh terminal as its child's output, in pieces, and draws it into a curses
// window. The first byte picks the screen size and the size of the pieces, and whether a byte before
// each piece may change the screen's size. Returns the first fault
// seen (cursor off the screen, a cell that cannot be read or has an impossible width, a drawing that
// does not show the screen, a screen that is not the one the same input gives in a single read), or ""
// when all held.
std::string fuzz_check_vt(const uint8_t *data, size_t size);

// Types the input as key codes (two bytes each, -1 to 511) at the minibuffer prompt with one of the
// buffer sizes the program uses, picked by the first byte; the keys go through curses' own key queue.
// Returns the first fault seen (wrong result or text, text too long, keys after the ending one eaten,
// a line left drawn), or "" when all held.
std::string fuzz_check_prompt(const uint8_t *data, size_t size);

// One kept input of a fuzzer: its file and its bytes.
struct FuzzInput {
    std::string path;
    std::vector<uint8_t> bytes;
};

// Every checked-in seed and regression input of the named fuzzer ("vt_fuzz", "prompt_fuzz").
std::vector<FuzzInput> fuzz_kept_inputs(const std::string &target);
