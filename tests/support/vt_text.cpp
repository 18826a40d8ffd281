#include "support/vt_text.h"

#include "support/reap.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "base/utf8.h"
#include "term/vt_internal.h"

std::string vt_row_text(const TarvikVt *vt, int row)
{
    std::string s;
    for (int col = 0; col < tarvik_vt_cols(vt); ++col) {
        TarvikCell c = tarvik_vt_cell(vt, row, col);
        if (c.width == 0) continue;
        s += utf8_encode(c.ch);
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::string vt_screen_text(const TarvikVt *vt)
{
    std::string s;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r) s += vt_row_text(vt, r) + "\n";
    return s;
}

std::string vt_flat_text(const TarvikVt *vt)
{
    std::string s;
    for (int r = 0; r < tarvik_vt_rows(vt); ++r)
        for (int c = 0; c < tarvik_vt_cols(vt); ++c) {
            TarvikCell cell = tarvik_vt_cell(vt, r, c);
            if (cell.width != 0) s += utf8_encode(cell.ch);
        }
    return s;
}

std::string vt_line_state(const TarvikLineCell *cells, int count)
{
    std::string s;
    for (int i = 0; i < count; ++i) {
        for (uint32_t ch : cells[i].chars) s += std::to_string(ch) + ",";
        const TarvikStyle &st = cells[i].style;
        s += std::to_string(cells[i].width) + " " + std::to_string(st.fg) + "/" + std::to_string(st.bg) +
             "/" + std::to_string(st.attrs) + "|";
    }
    return s;
}

std::string vt_screen_state(const TarvikVt *vt)
{
    std::string s = std::to_string(tarvik_vt_cursor_row(vt)) + "," + std::to_string(tarvik_vt_cursor_col(vt));
    std::vector<TarvikLineCell> cells(static_cast<size_t>(tarvik_vt_cols(vt)));
    for (int row = 0; row < tarvik_vt_rows(vt); ++row)
        s += "\n" + vt_line_state(cells.data(), tarvik_vt_line(vt, row, cells.data()));
    return s;
}

void vt_feed_output(TarvikVt *vt, const std::string &bytes)
{
    vt_write(vt, bytes.data(), bytes.size());
}

bool vt_pump_until(TarvikVt *vt, const std::function<bool()> &cond, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        tarvik_vt_update(vt);
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool vt_settle_forsaken(const std::function<void()> &update, int timeout_ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        update();
        if (tarvik_vt_linger_ms() < 0) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void vt_forsake_settled(TarvikVt *vt, const char *note)
{
    tarvik_vt_forsake_child(vt, note);
    vt_settle_forsaken([vt] { tarvik_vt_update(vt); });
}

Script::Script(const std::string &body)
{
    char tmpl[] = "/tmp/quillor-script-XXXXXX";
    int fd = mkstemp(tmpl);
    path = tmpl;
    std::string text = "#!/bin/sh\n" + body + "\n";
    (void)!write(fd, text.data(), text.size());
    close(fd);
    chmod(path.c_str(), 0700);
}

Script::~Script()
{
    unlink(path.c_str());
}

VtScript::VtScript(int rows, int cols, const std::string &body)
    : script(body), vt(tarvik_vt_create(rows, cols)), pid(tarvik_vt_forkpty(vt.get(), script.path.c_str()))
{
}

VtScript::~VtScript()
{
    vt.reset();
    if (pid > 0 && !reaped_) reap_child(pid);
}

int VtScript::reap()
{
    reaped_ = true;
    return reap_child(pid);
}
