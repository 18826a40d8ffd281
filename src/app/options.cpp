// Parsing the options (-W, -T, -S, -P, -I, and --help and --version, which answer at once) and the names.
#include "app/options.h"

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "screen/screen.h"
#include "term/fd.h"

namespace {

const char kUsage[] = "Syntax: quillor [-w] [-W list_width] [-T term_width] [-S lines] [-P logins]\n"
                      "                [-I ms] [name | @source]...\n"
                      "        quillor -h | --help | --version\n\n"
                      "     -w        starts with the wall: every machine's terminal in tiles\n"
                      "               (F1 w turns it on and off)\n\n"
                      "     -W        specifies width of machine list area\n"
                      "               (default is 8 characters)\n\n"
                      "     -T        specifies width of terminal area\n"
                      "               (default is 80 characters)\n\n"
                      "     -S        specifies lines of history kept per machine\n"
                      "               (default is 2000 lines, 0 keeps none)\n\n"
                      "     -P        specifies logins in progress at once\n"
                      "               (default is 8, 0 is no limit)\n\n"
                      "     -I        specifies least milliseconds between two logins\n"
                      "               (default is 0)\n\n"
                      "     name      machine to log into, as typed at the F5 prompt\n"
                      "               (web[01-12] names twelve; after -- if it begins with -)\n\n"
                      "     @source   every machine named in a file, or printed by\n"
                      "               QUILLOR_AT_COMMAND when that is set\n\n"
                      "     -h        prints this text (also --help)\n\n"
                      "     --version prints the version of quillor\n\n";

// The long options' codes, past every character.
constexpr int kOptVersion = 256;
constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, kOptVersion},
    {nullptr, 0, nullptr, 0},
};

[[noreturn]] void usage_exit()
{
    std::fputs(kUsage, stderr);
    std::exit(2);
}

// Asked for, the text goes where the user can page or grep it; a write that failed (a full disk, a
// closed pipe) is not reported as success.
[[noreturn]] void print_exit(const char *text)
{
    std::fputs(text, stdout);
    std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
}

// A count for an option, 0 or more. Unlike the widths, a count that cannot be read is refused: taking
// it as 0 would silently keep no history, or lift the pacing of logins.
int parse_count(const char *what, const char *text)
{
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') {
        std::fprintf(stderr, QUILLOR_NAME ": %s not a number: %s\n", what, text);
        usage_exit();
    }
    if (errno == ERANGE || value > INT_MAX) {
        std::fprintf(stderr, QUILLOR_NAME ": %s too many: %s\n", what, text);
        usage_exit();
    }
    if (value < 0) {
        std::fprintf(stderr, QUILLOR_NAME ": %s must not be negative: %ld\n", what, value);
        usage_exit();
    }
    return static_cast<int>(value);
}

} // namespace

Options options_parse(int argc, char **argv)
{
    Options o;
    // getopt names the program by argv[0], which may be a path: its messages name it as ours do. The
    // copy is what getopt reorders, and where the names are read from afterwards.
    std::vector<char *> args(argv, argv + argc);
    args.push_back(nullptr);
    char name[] = QUILLOR_NAME;
    args[0] = name;
    int c;
    while ((c = getopt_long(argc, args.data(), "hwW:T:S:P:I:", kLongOptions, nullptr)) != -1) {
        switch (c) {
        case 'h': print_exit(kUsage);
        case kOptVersion: print_exit(QUILLOR_NAME " " QUILLOR_VERSION "\n");
        case 'w': o.wall = true; break;
        case 'W':
            o.list_width = std::atoi(optarg);
            // A negative width would give the list window a negative size.
            if (o.list_width < 0) {
                std::fprintf(stderr, QUILLOR_NAME ": list width must not be negative: %d\n", o.list_width);
                usage_exit();
            }
            break;
        case 'T':
            o.term_width = std::atoi(optarg);
            if (o.term_width < kScreenMinCols) {
                std::fprintf(stderr, QUILLOR_NAME ": terminal area too narrow: %d\n", o.term_width);
                usage_exit();
            }
            break;
        case 'S': o.history_lines = parse_count("history lines", optarg); break;
        case 'P': o.pacing.at_once = parse_count("logins at once", optarg); break;
        case 'I': o.pacing.interval_ms = parse_count("milliseconds between logins", optarg); break;
        default: // getopt has printed its own diagnostic
            usage_exit();
        }
    }
    // glibc's getopt has moved every name after the options, in their order; "--" ends the options
    // for a name that begins with "-".
    for (int i = optind; i < argc; ++i) o.names.emplace_back(args[static_cast<size_t>(i)]);
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
            std::fprintf(stderr, QUILLOR_NAME ": cannot read %s: %s\n", path, std::strerror(error));
            std::exit(1);
        }
    }
}
