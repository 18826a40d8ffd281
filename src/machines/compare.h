// Comparing the answers of the machines that received the last command sent in multicast: each
// machine's output since then, with its own name blanked out, grouped by equal text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "machines/machine.h"

// What a machine's output since the mark says, ready to compare.
struct CompareAnswer {
    std::string text;  // without the command line, the prompt after it and trailing blanks; names replaced
    bool done = false; // the prompt came back: nothing more is expected
};

// Stands for the machine's own name in an answer.
constexpr std::string_view kCompareHost = "<host>";

// The answer in `output` (lines each ending in "\n", the first one holding the command as typed):
// the lines after the first, less a last line that is only the prompt again (what the first line
// starts with), with every one of `names` replaced by kCompareHost and trailing blanks dropped.
CompareAnswer compare_answer(std::string_view output, const std::vector<std::string> &names);

// Indices of equal texts grouped: largest group first, equal sizes in the order of their first index.
std::vector<std::vector<int>> compare_group(const std::vector<std::string> &texts);

// The host a machine's connection goes to: its first word that is neither an ssh option nor an option's
// value, without a user before an "@"; "" when there is none.
std::string compare_host(const Machine &m);

// The names a machine is known by in its output: its list name, the host its connection goes to and
// that host's first label.
std::vector<std::string> compare_names(const Machine &m);

// Marks, for every tagged machine in the list, where its answer to what is being sent starts, and
// forgets the answers to the command before. Call before the bytes go out.
void compare_mark_sent();

struct CompareGroup {
    std::vector<int> machines; // list indices
    std::string text;          // the answer's first lines, as many as were asked for
    size_t lines = 0;          // lines in the whole answer
};
struct CompareState {
    std::vector<CompareGroup> groups;
    std::vector<int> printing; // still answering: their prompt has not come back
    bool clipped = false;      // some answer began before the oldest line its history keeps
    bool any = false;          // a command was sent in multicast since the list last changed
};

// The answers now, grouped, with each group's text up to `text_lines` lines; also sets each machine's
// odd_answer.
CompareState compare_state(size_t text_lines = SIZE_MAX);

// Machine i's whole answer (i a list index) as compare_state last read it; "" for a machine that received
// no multicast command since.
std::string compare_answer_text(int i);

// Where machine b's answer first differs from machine a's (list indices of two machines that answered),
// as compare_state last read them: the first line that differs, counted from 0, and the first byte of
// it that differs, at the start of a character. Where one answer ends and the other goes on, the line
// is the first the shorter one lacks, at byte 0.
struct CompareDifference {
    size_t line = 0;
    size_t offset = 0;
};
CompareDifference compare_difference(int a, int b);

// Call before bytes go to the machines keys go to now: in multicast, an Enter among them (a carriage
// return, or the Ctrl-J a shell takes as Enter too) starts new answers, as compare_mark_sent does.
void compare_note_sent(const std::string &bytes);

// For the program's wait, a task: milliseconds until the answers should be read again (0: now), -1 while
// nothing an answer is read from changed since the last refresh. While machines print, a refresh comes
// at most every few hundred milliseconds.
int compare_due_ms();
// Reads the answers again: compare_current() and every machine's odd_answer follow them.
void compare_refresh();
// The answers as the last refresh read them, and a number that changes with every refresh and every
// new command: equal readings mean the same answers.
const CompareState &compare_current();
unsigned long compare_version();
// The first lines of a group's answer, as the last refresh read it.
std::string compare_group_text(const CompareGroup &group, size_t lines);
