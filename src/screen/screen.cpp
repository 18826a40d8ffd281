// Curses set-up for the whole run: input modes, the function-key table, the size check and the splash.
#include "screen/screen.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <unistd.h>

#include <curses.h>
#include <term.h>

#include "screen/colors.h"
#include "screen/window.h"
#include "term/tarvik.h"

namespace {

// The splash waits this long for a key, in reads of kSplashReadMs each.
constexpr int kSplashReadMs = 200;
constexpr int kSplashReads = 11;
// Long enough for a function key's bytes to arrive together, short enough that a lone Escape reaches
// an editor on a machine without a noticeable pause (curses' own default is a full second).
constexpr int kEscDelayMs = 25;

constexpr char kTitle[] = "Quillor v" QUILLOR_VERSION;
constexpr char kCredit[] = "Type into many machines over ssh at once";

struct FunctionKey {
    const char *sequence;
    int code;
};

// F1-F10 in the three forms terminals send them: SS3 (F1-F4 only), CSI number "~" (no 16), and
// CSI number "z".
constexpr FunctionKey kFunctionKeys[] = {
    {"\033OP", KEY_F(1)},          {"\033OQ", KEY_F(2)},    {"\033OR", KEY_F(3)},    {"\033OS", KEY_F(4)},
    {"\033[11~", KEY_F(1)},        {"\033[12~", KEY_F(2)},  {"\033[13~", KEY_F(3)},  {"\033[14~", KEY_F(4)},
    {"\033[15~", KEY_F(5)},        {"\033[17~", KEY_F(6)},  {"\033[18~", KEY_F(7)},  {"\033[19~", KEY_F(8)},
    {"\033[20~", KEY_F(9)},        {"\033[21~", KEY_F(10)}, {"\033[224z", KEY_F(1)}, {"\033[225z", KEY_F(2)},
    {"\033[226z", KEY_F(3)},       {"\033[227z", KEY_F(4)}, {"\033[228z", KEY_F(5)}, {"\033[229z", KEY_F(6)},
    {"\033[230z", KEY_F(7)},       {"\033[231z", KEY_F(8)}, {"\033[232z", KEY_F(9)}, {"\033[233z", KEY_F(10)},
    {"\033[200~", kKeyPasteBegin},
};

// Keys as other terminals send them, for the views' Home, End and arrows whatever the terminal's
// description says; each only where the description gives its sequence no other meaning.
constexpr FunctionKey kOtherTerminalsKeys[] = {
    {"\033[1~", KEY_HOME}, {"\033[7~", KEY_HOME}, {"\033[H", KEY_HOME},   {"\033OH", KEY_HOME},
    {"\033[4~", KEY_END},  {"\033[8~", KEY_END},  {"\033[F", KEY_END},    {"\033OF", KEY_END},
    {"\033[A", KEY_UP},    {"\033OA", KEY_UP},    {"\033[B", KEY_DOWN},   {"\033OB", KEY_DOWN},
    {"\033[C", KEY_RIGHT}, {"\033OC", KEY_RIGHT}, {"\033[D", KEY_LEFT},   {"\033OD", KEY_LEFT},
    {"\033[2~", KEY_IC},   {"\033[3~", KEY_DC},   {"\033[5~", KEY_PPAGE}, {"\033[6~", KEY_NPAGE},
    {"\033OM", KEY_ENTER},
};

// Bracketed paste: the terminal marks pasted text, so that it is never taken for keys.
constexpr char kPasteOn[] = "\033[?2004h";

// Control keys the machines must receive as the bytes typed. Some terminal descriptions claim one of
// them for a key of their own (the Linux console's Ctrl-Z is a "suspend" key), which keypad mode would
// turn into a key code that no machine understands.
constexpr char kMachineControlKeys[] = {'\003', '\021', '\023', '\032', '\034'};

// Ends curses before writing, so the message lands on the user's own screen, not the alternate one.
[[noreturn]] void screen_fail_size()
{
    // The size curses found, before endwin forgets it.
    int rows = stdscr ? getmaxy(stdscr) : LINES;
    int cols = stdscr ? getmaxx(stdscr) : COLS;
    endwin();
    std::fprintf(stderr, QUILLOR_NAME ": requires a %d x %d terminal to run.\n", kScreenMinCols,
                 kScreenMinRows);
    std::fprintf(stderr, QUILLOR_NAME ": the terminal is %d x %d\n", cols, rows);
    std::exit(1);
}

// Nothing of the program exists yet when the terminal is refused; what curses allocated goes with the
// process.
[[noreturn]] void screen_refuse()
{
    std::fflush(stderr);
    _exit(1);
}

// Refuses, before a byte reaches it, a terminal that a full-screen program cannot use: none at all, no
// description of it, or one that cannot put the cursor where it is wanted (TERM=dumb, a printing
// terminal), where curses would paint nothing and leave a blank screen.
void screen_check_terminal(const char *term)
{
    if (!isatty(STDOUT_FILENO)) {
        std::fprintf(stderr, QUILLOR_NAME ": standard output is not a terminal\n");
        std::exit(1);
    }
    if (!term || !*term) {
        std::fprintf(stderr, QUILLOR_NAME ": needs TERM set to the name of your terminal; it is not set.\n");
        std::exit(1);
    }
    // With somewhere to report, the look-up prints nothing of its own; 1 there after a failure means a
    // printing terminal.
    int status = 0;
    bool described = setupterm(term, STDOUT_FILENO, &status) == OK;
    if (!described && status != 1) {
        std::fprintf(stderr, QUILLOR_NAME ": found no terminal description for TERM=%s.\n", term);
        screen_refuse();
    }
    const char *move = described ? tigetstr("cup") : nullptr;
    bool addressable = move && move != reinterpret_cast<const char *>(-1);
    if (cur_term) del_curterm(cur_term);
    if (!addressable) {
        std::fprintf(stderr, QUILLOR_NAME ": TERM=%s names a terminal that cannot move its cursor.\n", term);
        screen_refuse();
    }
}

void screen_define_keys()
{
    for (const FunctionKey &key : kFunctionKeys) {
        // define_key takes a writable string but does not keep or change it.
        define_key(const_cast<char *>(key.sequence), key.code);
    }
    for (const FunctionKey &key : kOtherTerminalsKeys)
        if (key_defined(key.sequence) == 0) define_key(const_cast<char *>(key.sequence), key.code);
    for (char byte : kMachineControlKeys) {
        char sequence[] = {byte, '\0'};
        // A key code of 0 removes the sequence's definition.
        if (key_defined(sequence) > 0) define_key(sequence, 0);
    }
}

// Writes text centred on the given row of the standard screen.
void screen_center(int row, const char *text)
{
    int len = static_cast<int>(std::strlen(text));
    wmove(stdscr, row, (getmaxx(stdscr) - len) / 2);
    waddstr(stdscr, text);
}

void screen_splash()
{
    int rows = getmaxy(stdscr);
    set_color(stdscr, kAttrTitle);
    screen_center(rows / 2, kTitle);
    set_color(stdscr, kAttrText);
    screen_center(rows / 2 + 1, kCredit);
    wrefresh(stdscr);
    // The key that ends the splash is swallowed here; it never reaches a machine. No machine runs yet,
    // so this wait needs to serve nothing else.
    wtimeout(stdscr, kSplashReadMs);
    for (int i = 0; i < kSplashReads; ++i)
        if (wgetch(stdscr) >= 0) break;
    wtimeout(stdscr, 0);
    wclear(stdscr);
    wrefresh(stdscr);
}

} // namespace

void screen_init(bool splash)
{
    // Wide-character curses shows UTF-8 names and terminal text only under the user's locale.
    std::setlocale(LC_ALL, "");
    // newterm rather than initscr, which prints the library's own words and exits on a bad TERM.
    const char *term = std::getenv("TERM");
    screen_check_terminal(term);
    if (!newterm(term, stdout, stdin)) {
        std::fprintf(stderr, QUILLOR_NAME ": found no terminal description for TERM=%s.\n", term);
        screen_refuse();
    }
    // Until curses has once been ended and taken up again, it sends its output with a write for every
    // cursor movement: an update of 16 summary rows went out in 20 writes, each waking the user's
    // terminal. Ended and resumed before anything is drawn, an update is one write.
    endwin();
    doupdate();
    screen_setup(splash);
    putp(kPasteOn);
    std::fflush(stdout);
}

void screen_resume()
{
    // The modes curses set (raw, no echo) as it keeps them, then what the terminal was told on start.
    reset_prog_mode();
    for (const char *capability : {"smcup", "smkx"}) {
        char *s = tigetstr(capability);
        if (s && s != reinterpret_cast<char *>(-1)) putp(s);
    }
    putp(kPasteOn);
    // curses would not send a cursor state it thinks the terminal has already.
    int cursor = curs_set(1);
    if (cursor != ERR) curs_set(cursor);
    std::fflush(stdout);
    // The terminal may show anything now: the next refresh paints every cell.
    clearok(curscr, TRUE);
}

void screen_end()
{
    putp(kScreenPasteOff);
    std::fflush(stdout);
    endwin();
}

void screen_setup(bool splash)
{
    if (!stdscr) screen_fail_size();
    start_color();
    noecho();
    keypad(stdscr, TRUE);
    // The keyboard is the program's to read: curses must not look at it in the middle of an update, and
    // leave the rest of the update for later because a key is waiting.
    typeahead(-1);
    // Keys are read without waiting: the one wait of the program is a poll on the terminal and more.
    wtimeout(stdscr, 0);
    // Raw, not cbreak: Ctrl-C, Ctrl-Z, Ctrl-\, Ctrl-S and Ctrl-Q belong to the machines.
    raw();
    // Enter reaches the machines as the carriage return a terminal sends, not turned into Ctrl-J,
    // which full-screen programs read as another key (a line down, say).
    nonl();
    // A machine's default colours are the user's terminal's own; the program keeps its own colours.
    tarvik_colors_init(true);
    window_set_background(stdscr);
    wclear(stdscr);
    screen_define_keys();
    // curses has already taken ESCDELAY from the environment when it started; only the default changes.
    if (!std::getenv("ESCDELAY")) set_escdelay(kEscDelayMs);
    if (!screen_big_enough()) screen_fail_size();
    if (splash) screen_splash();
    // The window may have been made smaller while the splash was up.
    if (!screen_big_enough()) screen_fail_size();
}

bool screen_big_enough()
{
    return getmaxy(stdscr) >= kScreenMinRows && getmaxx(stdscr) >= kScreenMinCols;
}
