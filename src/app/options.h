// The command line.
#pragma once

#include <string>
#include <vector>
#include "machines/history.h"
#include "machines/logins.h"
#include "screen/screen.h"

struct Options {
    int list_width = 8;              // characters of machine name in the list panel
    int term_width = kScreenMinCols; // wanted width of the terminal panel, never below the screen's least
    // The arguments after the options, each one as if typed at the add prompt, in order.
    std::vector<std::string> names;
    int history_lines = kDefaultHistoryLines; // lines each machine keeps of what scrolled away
    LoginPacing pacing;                       // logins at once, and the least time between two starts
    bool wall = false;                        // start with the wall of tiles on
};

// Parses the options and collects the names; on an error writes the reason and the usage text to
// standard error and exits with status 2. -h or --help writes the usage text, --version the name and
// version, to standard output and exits with status 0.
Options options_parse(int argc, char **argv);

// Makes sure every "@file" among the names can be read, before anything has started: otherwise writes
// which file and why to standard error and exits with status 1. Nothing to check for "@text" when
// QUILLOR_AT_COMMAND is set, where the text is the command's arguments.
void options_check_files(const Options &options);
