// What scrolled off the top of one machine's screen, oldest first, kept compactly up to a number of
// lines: the text as UTF-8 without trailing blanks, the look as runs of cells, and the cell layout only
// for lines that have wide characters or combining marks.
//
// Lines are numbered in the order they arrived, from 0, for the life of the history: a number names
// the same line while newer ones arrive, until the limit drops it. Kept lines are those from
// history_begin up to, not including, history_end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "term/tarvik.h"

constexpr int kDefaultHistoryLines = 2000;

struct History {
    // Lines are written one after the other into chunks of a few kilobytes; a chunk is freed once the
    // limit has dropped every line in it.
    struct Chunk {
        std::unique_ptr<uint8_t[]> bytes;
        uint32_t used = 0;
        uint32_t size = 0;
        uint32_t lines = 0; // lines that start in this chunk and are still kept
        Chunk() = default;
        Chunk(Chunk &&) = default;
        Chunk &operator=(Chunk &&) = default;
        // A copy holds just the bytes in use.
        Chunk(const Chunk &other);
        Chunk &operator=(const Chunk &other);
    };
    struct Where {
        uint32_t chunk; // number of the chunk, counted from the first one ever made (modulo 2^32)
        uint32_t offset;
    };
    size_t limit = kDefaultHistoryLines;
    uint64_t begin = 0;
    std::deque<Where> lines;
    std::deque<Chunk> chunks;
    uint32_t first_chunk = 0; // number of chunks[0]
};

// Keeps at most `lines` lines from now on, dropping the oldest ones beyond it.
void history_set_limit(History &h, size_t lines);

// Adds a line as the newest: its cells, trailing blanks already left out, and whether it goes on from the
// line before it (the terminal wrapped a long line onto it). The oldest line goes when the limit is
// reached; with a limit of 0 nothing is kept.
void history_push(History &h, const TarvikLineCell *cells, int count, bool wrapped = false);

// True when a kept line goes on from the line before it.
bool history_wrapped(const History &h, uint64_t line);
// The same for a line numbered as history_mark numbers them: a kept line, or a row of the screen after
// the history's newest line.
bool history_line_wrapped(const History &h, const TarvikVt *vt, uint64_t line);

uint64_t history_begin(const History &h);
uint64_t history_end(const History &h);
size_t history_size(const History &h);

// The text of a kept line, as UTF-8 with a blank for each empty cell; "" for a line not kept. Valid
// until the history changes.
std::string_view history_text(const History &h, uint64_t line);

// The cells of a kept line, as they were pushed; empty for a line not kept.
void history_cells(const History &h, uint64_t line, std::vector<TarvikLineCell> &cells);

// The nearest kept line at or before `from` (backward) or at or after it (forward) whose text holds
// `text`; the search does not wrap around. Nothing when there is none or `text` is empty.
std::optional<uint64_t> history_find(const History &h, std::string_view text, uint64_t from, bool backward);

// Adds the screen's rows as the newest lines, down to the cursor's row or the last row with anything
// on it, whichever is lower: what the user sees, as it would scroll away.
void history_add_screen(History &h, const TarvikVt *vt);

// A place in a machine's output that stays where it is while lines scroll: the cursor's row now, as
// the number it has once it has scrolled into the history.
uint64_t history_mark(const History &h, const TarvikVt *vt);

// The text of the screen's rows from `first` down to the cursor's row or the last row with anything on
// it, whichever is lower (the rows history_add_screen would add), each as history_text gives a line.
void history_screen_text(const TarvikVt *vt, int first, std::vector<std::string> &rows);

// The text from the marked line to the last line in use on the screen, one "\n" after each line: the
// history's lines from the mark (from its oldest kept line when the limit has dropped the mark: then
// the mark is below history_begin), then the screen's rows.
std::string history_text_since(const History &h, const TarvikVt *vt, uint64_t mark);
