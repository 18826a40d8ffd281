// Parsing -W, -T and -S, and the names after them.
#include "app/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "term/fd.h"

namespace {

const char kUsage[] = "Syntax: quillor [-W list_width] [-T term_width] [-S lines] [name | @source]...\n\n"
                      "     -W        specifies width of machine list area\n"
                      "               (default is 8 characters)\n\n"
                      "     -T        specifies width of terminal area\n"
                      "               (default is 80 characters)\n\n"
                      "     -S        specifies lines of history kept per machine\n"
                      "               (default is 2000 lines, 0 keeps none)\n\n"
                      "     name      machine to log into, as typed at the F5 prompt\n"
                      "               (web[01-12] names twelve; after -- if it begins with -)\n\n"
                      "     @source   every machine named in a file, or printed by\n"
                      "               QUILLOR_AT_COMMAND when that is set\n\n";

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
    while ((c = getopt(argc, argv, "W:T:S:")) != -1) {
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
        case 'S': {
            // Unlike the widths, a count that cannot be read is refused: taking it as 0 would silently
            // keep no history at all.
            char *end = nullptr;
            errno = 0;
            long lines = std::strtol(optarg, &end, 10);
            if (end == optarg || *end != '\0') {
                std::fprintf(stderr, " history lines not a number: %s\n", optarg);
                usage_exit();
            }
            if (errno == ERANGE || lines > INT_MAX) {
                std::fprintf(stderr, " history lines too many: %s\n", optarg);
                usage_exit();
            }
            if (lines < 0) {
                std::fprintf(stderr, " history lines must not be negative: %ld\n", lines);
                usage_exit();
            }
            o.history_lines = static_cast<int>(lines);
            break;
        }
        default: // getopt has printed its own diagnostic
            usage_exit();
        }
    }
    // glibc's getopt has moved every name after the options, in their order; "--" ends the options
    // for a name that begins with "-".
    for (int i = optind; i < argc; ++i) o.names.emplace_back(argv[i]);
    return o;
}

void options_check_files(const Options &options)
{
    if (std::getenv("QUILLOR_AT_COMMAND")) return;
    for (const std::string &name : options.names) {
        if (name.empty() || name[0] != '@') continue;
        const char *path = name.c_str() + 1;
        // Non-blocking, or a named pipe would hold the start-up until something writes to it.
        Fd fd(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        int error = fd.valid() ? 0 : errno;
        struct stat st;
        // A directory opens for reading but has no names to give.
        if (!error && fstat(fd.get(), &st) == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
        if (error) {
            std::fprintf(stderr, "quillor: cannot read %s: %s\n", path, std::strerror(error));
            std::exit(1);
        }
    }
}
