// The main loop and its key dispatch.
#include "app/loop.h"

#include <string>

#include "app/add.h"
#include "app/quit.h"
#include "dialogs/menu.h"
#include "dialogs/minibuf.h"
#include "event/wait.h"
#include "machines/compare.h"
#include "machines/mlist.h"
#include "screen/colors.h"
#include "screen/layout.h"
#include "screen/redraw.h"

namespace {

// Plain bytes typed for the machines and not sent yet: a turn's keys go out together, in as few
// writes as the terminals take.
std::string g_typed;

// Typing into nothing must not look like typing.
void note_if_nowhere()
{
    if (mlist_multicast() && mlist_tagged_count() == 0) redraw_set_note(kNothingSentNote, kAttrError);
}

void flush_typed()
{
    if (g_typed.empty()) return;
    note_if_nowhere();
    compare_note_sent(g_typed);
    mlist_send_text(g_typed);
    g_typed.clear();
}

} // namespace

void main_dispatch(int key)
{
    // Keys for the machines wait in g_typed; anything else must come after them, in order.
    if (key >= 0 && key < 256) {
        g_typed.push_back(static_cast<char>(key));
        return;
    }
    flush_typed();
    WINDOW *mb = layout_minibuf_window();
    switch (key) {
    case KEY_F(1):
        if (menu_show()) quit_program(0);
        redraw(true);
        break;
    case KEY_F(2): mlist_select_prev(); break;
    case KEY_F(3): mlist_select_next(); break;
    case KEY_F(4): mlist_toggle_tag(); break;
    case KEY_F(5):
        // A file can name hundreds of machines: their logins start once the list has been drawn.
        tarvik_vt_hold_children();
        add_machines(mb);
        break;
    case KEY_F(6):
        if (minibuf_confirm(mb, "Really delete it [y/n]?", kAttrQuestion)) mlist_delete_selected();
        break;
    case KEY_F(7): mlist_toggle_multicast(); break;
    case kKeyPaste:
        note_if_nowhere();
        compare_note_sent(wait_paste_text());
        mlist_send_paste(wait_paste_text());
        break;
    case kKeyUnknown:
        // A key quillor does not know (Alt with a letter, say) reaches the machines as it was typed.
        g_typed += wait_key_bytes();
        break;
    default:
        note_if_nowhere();
        mlist_send_key(key);
        break;
    }
}

void main_loop_turn()
{
    int key = wait_key();
    redraw_set_note(nullptr, 0);
    // Every key already typed is taken in this turn, before the machines are read and drawn again.
    do main_dispatch(key);
    while ((key = wait_key_now()) != ERR);
    flush_typed();
}

void main_loop()
{
    for (;;) main_loop_turn();
}
