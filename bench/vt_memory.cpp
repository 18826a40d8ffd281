// Where the memory of an idle machine goes: the heap that 256 screens of 37 x 80 take at each step of
// becoming what an idle machine is (libvterm alone, the layer's screen, a login's text, a full-screen
// program that came and went, the machine record around it), and the resident memory they add.
//
// Prints one line per step: "<step> <heap bytes per screen> <resident KiB per screen>".
#include <malloc.h>
#include <vterm.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "machines/machine.h"
#include "support/vt_text.h"

namespace {

constexpr int kScreens = 256;
constexpr int kRows = 37, kCols = 80;

// What an ssh login leaves on a screen: the banner, a coloured prompt, the cursor after it.
constexpr char kLogin[] = "Linux h1 6.1.0-28-amd64 #1 SMP PREEMPT_DYNAMIC Debian 6.1.119-1 x86_64\r\n"
                          "\r\n"
                          "The programs included with the Debian GNU/Linux system are free software;\r\n"
                          "the exact distribution terms for each program are described in the\r\n"
                          "individual files in /usr/share/doc/*/copyright.\r\n"
                          "\r\n"
                          "Last login: Wed Dec  9 23:14:51 2026 from 127.0.0.1\r\n"
                          "\x1b]0;user@h1: ~\x07\x1b[01;32muser@h1\x1b[00m:\x1b[01;34m~\x1b[00m$ ";
// A full-screen program's visit: the alternate screen drawn on, then left.
constexpr char kVisit[] = "\x1b[?1049h\x1b[H\x1b[2J\x1b[7m top \x1b[m\x1b[?1049l";

size_t heap_bytes()
{
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

long rss_kib()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

struct Probe {
    size_t heap = heap_bytes();
    long rss = rss_kib();
    void report(const char *step)
    {
        size_t h = heap_bytes();
        long r = rss_kib();
        std::printf("%-26s %8zu %8.1f\n", step, (h - heap) / kScreens,
                    static_cast<double>(r - rss) / kScreens);
        heap = h;
        rss = r;
    }
};

} // namespace

int main()
{
    std::printf("%-26s %8s %8s\n", "step (per screen)", "heap B", "RSS KiB");
    Probe p;
    std::vector<VTerm *> bare;
    for (int i = 0; i < kScreens; ++i) {
        VTerm *v = vterm_new(kRows, kCols);
        vterm_set_utf8(v, 1);
        vterm_state_reset(vterm_obtain_state(v), 1);
        bare.push_back(v);
    }
    p.report("libvterm state alone");
    for (VTerm *v : bare) vterm_free(v);
    p = Probe{};
    std::vector<TarvikVt *> vts;
    for (int i = 0; i < kScreens; ++i) vts.push_back(tarvik_vt_create(kRows, kCols));
    p.report("tarvik_vt_create");
    for (TarvikVt *vt : vts) vt_feed_output(vt, kLogin);
    p.report("a login's text");
    for (TarvikVt *vt : vts) vt_feed_output(vt, kVisit);
    p.report("alternate screen visited");
    for (TarvikVt *vt : vts) tarvik_vt_destroy(vt);
    p = Probe{};
    std::vector<Machine *> records;
    for (int i = 0; i < kScreens; ++i) records.push_back(new Machine);
    p.report("machine record, no screen");
    for (Machine *m : records) delete m;
}
