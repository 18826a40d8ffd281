// The machine list: owns every machine, in the order added, with the selection, the scroll position,
// the tags and the singlecast/multicast mode. Routes keys to the machines.
#pragma once

#include <curses.h>
#include <poll.h>
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "machines/machine.h"

constexpr int kMaxMachines = 256;

void mlist_init(WINDOW *list_window, int term_rows, int term_cols);
// Lines of history each machine added from now on keeps (kDefaultHistoryLines until set).
void mlist_set_history_lines(int lines);
void mlist_add(const std::string &name);
void mlist_delete_selected();
void mlist_delete_tagged();
void mlist_delete_dead();
void mlist_delete_all();
void mlist_select_prev();
void mlist_select_next();
void mlist_select(int i);
void mlist_toggle_tag();
// Tags or untags machine i; nothing when there is none.
void mlist_set_tag(int i, bool tagged);
void mlist_tag_all(bool live_only);
void mlist_toggle_tag_all(bool live_only);
void mlist_untag_all();
void mlist_toggle_multicast();
bool mlist_multicast();
void mlist_send_key(int key);
// Every machine whose child this was is dead; `wait_status` is what waitpid reported for it.
void mlist_child_exited(pid_t pid, int wait_status);
// Starts every dead machine again in its place, tag and name kept, on a fresh screen; their logins
// start as a batch once the list has been drawn.
void mlist_reconnect_dead();
// Sends bytes as typed (no key translation) where mlist_send_key would send a key, in one write each.
void mlist_send_text(const std::string &bytes);
// Sends each machine that keys go to now the bytes `text` gives for it, as typed, in one write; how many
// machines that was.
int mlist_send_each(const std::function<std::string(const Machine &)> &text);
// Sends bytes as typed to the selected machine alone, whatever the mode.
void mlist_send_selected(const std::string &bytes);
// Sends a paste: a machine whose program asked for bracketed paste gets it bracketed.
void mlist_send_paste(const std::string &bytes);
int mlist_tagged_count();
// How many more bytes of input every machine that keys go to now will take (the least of them).
size_t mlist_input_room();
// After tarvik_vt_release_children: the held machines take their children's pids, and one whose child
// could not be started is dead. Must come before any of those children is reaped.
void mlist_children_started();
// Takes in every terminal's output (looking at all of them first), and follows each login.
void mlist_update();
// For the program's wait: adds the descriptor of every machine's terminal that has one, for a poll.
void mlist_watch(std::vector<pollfd> &fds);
// The entries mlist_watch added, as the poll found them: each terminal found ready is read, and the
// input waiting for it sent when it can take it; then each login is followed by what its screen shows.
// Nothing may change the list in between.
void mlist_ready(const pollfd *fds, size_t count);
// How logins are paced from now on (see logins.h); kDefaultLoginsAtOnce at a time until set.
void mlist_set_pacing(const LoginPacing &pacing);
// Milliseconds until a queued login may start (0: now); -1 while none is queued or every slot is held.
int mlist_start_due_ms();
// Starts as many queued logins as the pacing lets go now, for about slice_ms at most, as
// tarvik_vt_release_children and mlist_children_started do.
void mlist_start_logins(int slice_ms);
// Milliseconds until a login changes with nothing printed (its quiet, its time-out), or 0 when one
// started since the counts were last followed; -1 when only output, an exit or a deletion can change
// anything.
int mlist_logins_due_ms();
// Follows every login by what its screen shows and the time.
void mlist_follow_logins();
// How many machines are up, logging in, queued, asking and dead.
FleetCounts mlist_fleet_counts();
// Tags every machine in this state and untags the others; returns how many it tagged.
int mlist_tag_only(FleetState state);
void mlist_rename_selected(const std::string &name);
// The terminal panel's new size: every machine's terminal, live or dead, takes it, and so does every
// machine added or restarted later. The list window may have other rows now: the scroll stays within
// the list and keeps the selection in view.
void mlist_resize(int term_rows, int term_cols);

// Reading access for the drawing.
int mlist_count();
int mlist_selected();
int mlist_scroll();
WINDOW *mlist_window();
// The machine at index i (0 <= i < mlist_count()), or null.
Machine *mlist_machine(int i);
