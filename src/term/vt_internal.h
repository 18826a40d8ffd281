// What the terminal layer's files share about one handle; nothing outside src/term includes this.
#pragma once

#include <sys/types.h>
#include <vterm.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "term/fd.h"
#include "term/tarvik.h"

struct VTermFree {
    void operator()(VTerm *vt) const { vterm_free(vt); }
};

// filter.cpp's parser state for one screen's incoming bytes (see there).
struct OutputFilter {
    enum class State { Ground, Escape, Csi, String, StringEscape };
    State state = State::Ground;
    std::string seq; // the escape or control sequence collected so far, as it would be passed on
    int args = 0;
    int intermediates = 0;
    bool valid = true; // the sequence is within the form and limits libvterm handles
    // A UTF-8 character whose remaining bytes have not come yet.
    unsigned char utf8[4] = {};
    int utf8_len = 0;
    int utf8_need = 0;
    uint32_t utf8_cp = 0;
    uint32_t last_char = 0; // the last character printed, which a repeat repeats; 0 before any
    std::string out; // what goes to libvterm from one write, kept for its capacity
};

struct TarvikVt {
    int rows = 0;
    int cols = 0;
    std::unique_ptr<VTerm, VTermFree> vt;
    VTermScreen *screen = nullptr; // owned by vt
    VTermState *state = nullptr;   // owned by vt
    Fd master;                     // invalid before forkpty, after end of file and once forsaken
    pid_t pid = -1;
    bool forsaken = false;
    bool cursor_visible = true;
    // Rows whose cells changed since the screen was last drawn: [damage_top, damage_bottom).
    int damage_top = 0;
    int damage_bottom = 0;
    // Tells screens apart for as long as the program runs, unlike their addresses.
    unsigned long serial = 0;
    // The window this screen was last drawn into.
    const WINDOW *drawn_into = nullptr;
    // Changes with every change of the cells or the cursor; see tarvik_vt_version.
    unsigned long version = 0;
    // The start of a UTF-8 sequence whose remaining bytes have not arrived yet.
    std::string utf8_tail;
    // Bytes for the child (keys, replies to queries) that its pseudo-terminal could not take yet.
    std::string out_queue;
    OutputFilter filter;
};

// pty.cpp
// Reads what the child wrote into the screen until nothing is pending or `max_ms` have passed; with
// `wait_ms` > 0 it also waits that long for output that is still on its way. At end of file (the child
// and everything it started have closed the terminal) the master is closed.
void pty_pump(TarvikVt *vt, int max_ms, int wait_ms);
// Queues bytes for the child and writes as much as the master takes now.
void pty_send(TarvikVt *vt, const char *bytes, size_t len);
// Writes queued bytes that the master can take now.
void pty_flush(TarvikVt *vt);
// Closes the master and forgets the child.
void pty_close(TarvikVt *vt);

// filter.cpp
// Writes child output into libvterm, reduced to what libvterm handles safely; every byte for the
// screen goes through here.
void vt_write(TarvikVt *vt, const char *bytes, size_t len);

// vt.cpp
// Feeds child output to libvterm, holding back an incomplete UTF-8 sequence at the end.
void vt_feed(TarvikVt *vt, const char *bytes, size_t len);
// The cell at a position inside the screen, as it should be shown: what libvterm leaves behind of a
// half-overwritten wide character reads as a blank, and values that are no character as U+FFFD.
// False outside the screen.
bool vt_get_cell(const TarvikVt *vt, int row, int col, VTermScreenCell &cell);
// Writes a line of text onto the screen itself (used to show why a child could not start).
void vt_show_message(TarvikVt *vt, const std::string &text);
