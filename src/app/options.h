// The command line.
#pragma once

struct Options {
    int list_width = 8;  // characters of machine name in the list panel
    int term_width = 80; // wanted width of the terminal panel, never below 80
};

// Parses the options; on an error writes the reason and the usage text to standard error and exits
// with status 2.
Options options_parse(int argc, char **argv);
