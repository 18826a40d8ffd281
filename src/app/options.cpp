// Parsing -W and -T.
#include "app/options.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

const char kUsage[] = "Syntax: quillor [-W list_width] [-T term_width]\n\n"
                      "     -W        specifies width of machine list area\n"
                      "               (default is 8 characters)\n\n"
                      "     -T        specifies width of terminal area\n"
                      "               (default is 80 characters)\n\n";

[[noreturn]] void usage_exit()
{
    std::fputs(kUsage, stderr);
    std::exit(2);
}

} // namespace

Options options_parse(int argc, char **argv)
{
    Options o;
    int c;
    while ((c = getopt(argc, argv, "W:T:")) != -1) {
        switch (c) {
        case 'W':
            o.list_width = std::atoi(optarg);
            // A negative width would give the list window a negative size.
            if (o.list_width < 0) {
                std::fprintf(stderr, " list width must not be negative: %d\n", o.list_width);
                usage_exit();
            }
            break;
        case 'T':
            o.term_width = std::atoi(optarg);
            if (o.term_width < 80) {
                std::fprintf(stderr, " terminal area too narrow: %d\n", o.term_width);
                usage_exit();
            }
            break;
        default: // getopt has printed its own diagnostic
            usage_exit();
        }
    }
    return o;
}
