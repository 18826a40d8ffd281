#include "support/vt_text.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

std::string vt_row_text(const TarvikVt *vt, int row)
{
    std::string s;
    for (int col = 0; col < tarvik_vt_cols(vt); ++col) {
        TarvikCell c = tarvik_vt_cell(vt, row, col);
        if (c.width == 0) continue;
        uint32_t ch = c.ch;
        if (ch < 0x80) {
            s += static_cast<char>(ch);
        } else if (ch < 0x800) {
            s += static_cast<char>(0xC0 | (ch >> 6));
            s += static_cast<char>(0x80 | (ch & 0x3F));
        } else if (ch < 0x10000) {
            s += static_cast<char>(0xE0 | (ch >> 12));
            s += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (ch & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (ch >> 18));
            s += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
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

Script::~Script() { unlink(path.c_str()); }
