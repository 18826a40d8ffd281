#include "support/curses_screen.h"

#include "event/wait.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cwchar>

CursesScreen::CursesScreen(int rows, int cols, const char *term) : reader_(rows, cols)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    unsetenv("LINES");
    unsetenv("COLUMNS");
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    openpty(&master_, &slave_, nullptr, nullptr, &ws);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    // A reader must drain what curses writes, or its writes block once the terminal's buffer fills.
    thread_ = std::thread([this] { pump(); });
    out_ = fdopen(dup(slave_), "w");
    in_ = fdopen(dup(slave_), "r");
    screen_ = newterm(term, out_, in_);
    set_term(screen_);
    // The program's wait polls the terminal curses reads from; here that is this screen's, not stdin.
    wait_set_keyboard_fd(fileno(in_));
}

CursesScreen::~CursesScreen()
{
    wait_set_keyboard_fd(STDIN_FILENO);
    endwin();
    delscreen(screen_);
    fclose(out_);
    fclose(in_);
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
}

void CursesScreen::pump()
{
    char buf[16384];
    while (!stop_) {
        pollfd pfd{master_, POLLIN, 0};
        if (poll(&pfd, 1, 20) <= 0) continue;
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) reader_.feed(buf, static_cast<size_t>(n));
    }
}

void CursesScreen::type(const std::string &bytes)
{
    (void)!write(master_, bytes.data(), bytes.size());
}

void CursesScreen::settle(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

WindowCell window_cell(WINDOW *win, int row, int col)
{
    cchar_t cc;
    WindowCell out{"", 0, 0};
    if (mvwin_wch(win, row, col, &cc) == ERR) return out;
    wchar_t wch[CCHARW_MAX + 1];
    attr_t attrs;
    short pair_short;
    int pair = 0;
    getcchar(&cc, wch, &attrs, &pair_short, &pair);
    char mb[MB_LEN_MAX * (CCHARW_MAX + 1)];
    std::mbstate_t st{};
    const wchar_t *src = wch;
    size_t n = std::wcsrtombs(mb, &src, sizeof mb, &st);
    out.text = n == static_cast<size_t>(-1) ? "?" : std::string(mb, n);
    out.attrs = attrs & ~A_COLOR;
    out.pair = pair ? pair : pair_short;
    return out;
}

std::string window_row(WINDOW *win, int row)
{
    std::string s;
    int cols = getmaxx(win);
    for (int col = 0; col < cols; ++col) {
        WindowCell c = window_cell(win, row, col);
        s += c.text;
        // curses repeats a wide character in the cell it covers on the right.
        wchar_t wc;
        std::mbstate_t st{};
        if (std::mbrtowc(&wc, c.text.data(), c.text.size(), &st) == c.text.size() && wcwidth(wc) == 2) ++col;
    }
    return s;
}

std::string window_dump(WINDOW *win)
{
    std::string dump;
    for (int r = 0; r < getmaxy(win); ++r) {
        for (int c = 0; c < getmaxx(win); ++c) {
            WindowCell cell = window_cell(win, r, c);
            dump += cell.text + "/" + std::to_string(cell.attrs) + "/" + std::to_string(cell.pair) + " ";
        }
        dump += "\n";
    }
    return dump;
}
