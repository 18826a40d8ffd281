// What comparing keeps of one machine's answer between two readings (compare.cpp owns it): the lines
// that scrolled into the history are read, cleaned and numbered once, however often the answers are
// compared while they arrive.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

struct AnswerCache {
    // The names replaced in the lines read, longest first, and what they were taken from.
    std::vector<std::string> names;
    std::string name, connection;
    // The command's line, from its first row (where the prompt is: a command wider than the terminal
    // wraps onto more rows): as the screen shows it until it scrolls into the history, then fixed.
    uint64_t command_line = 0;
    std::string command;
    bool command_fixed = false;

    // The history lines read so far, from line number `first` on, each as the number of its cleaned
    // text (equal numbers, equal texts), with the hash of all the lines read up to and with it.
    uint64_t first = 0;
    std::deque<uint32_t> lines;
    std::deque<uint64_t> prefix;
    uint64_t before = 0; // the hash of the lines read before `first`, which the history dropped

    // The last reading, reused while the screen and the history stay as they were.
    bool read = false;
    unsigned long version = 0;
    uint64_t history_begin = 0, history_end = 0;
    bool done = false;          // the prompt came back after the answer
    size_t body_lines = 0;      // of `lines`, those in the answer
    std::vector<uint32_t> tail; // then the answer's lines still on the screen
    uint64_t hash = 0;          // of the answer's lines, in order
};
