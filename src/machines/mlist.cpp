// The machine list: every machine in the order added, the selection and scroll, tags and mode.
#include "machines/mlist.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "base/clock.h"

namespace {

struct MachineDeleter {
    void operator()(Machine *m) const { machine_destroy(m); }
};
using MachinePtr = std::unique_ptr<Machine, MachineDeleter>;

std::vector<MachinePtr> g_machines;
int g_selected = 0;
int g_scroll = 0;
bool g_multicast = false;
WINDOW *g_window = nullptr;
int g_term_rows = 24;
int g_term_cols = 80;
int g_history_lines = kDefaultHistoryLines;
LoginPacing g_pacing;
long g_last_start_ms = -1;
bool g_starts_unseen = false; // logins started since they were last followed: the counts must show them

int count()
{
    return static_cast<int>(g_machines.size());
}

bool has_selection()
{
    return g_selected >= 0 && g_selected < count();
}

// Calls `use` with each machine that keys go to now: every tagged one in multicast, dead ones included
// (their terminals drop what they are sent), else the selected one.
template <typename Use> void for_each_receiver(Use use)
{
    if (g_multicast) {
        for (auto &m : g_machines)
            if (m->tagged) use(*m);
    } else if (has_selection()) {
        use(*g_machines[static_cast<size_t>(g_selected)]);
    }
}

// Keeps the selection inside the list and in view; the scroll moves only to bring it into view.
void fix_selection()
{
    if (g_selected < 0 || g_selected >= count()) g_selected = std::max(0, std::min(g_selected, count() - 1));
    if (count() > 0) {
        int rows = g_window ? getmaxy(g_window) : 1;
        if (rows < 1) rows = 1;
        if (g_selected < g_scroll)
            g_scroll = g_selected;
        else if (g_selected >= g_scroll + rows)
            g_scroll = g_selected - rows + 1;
    }
}

void delete_at(int i)
{
    g_machines.erase(g_machines.begin() + i);
    fix_selection();
}

} // namespace

void mlist_init(WINDOW *list_window, int term_rows, int term_cols)
{
    g_machines.clear();
    g_scroll = g_selected = 0;
    g_window = list_window;
    g_term_rows = term_rows;
    g_term_cols = term_cols;
}

void mlist_set_history_lines(int lines)
{
    g_history_lines = lines;
}

void mlist_add(const std::string &name)
{
    if (name.empty() || count() >= kMaxMachines) return;
    g_machines.emplace_back(machine_create(name, g_term_rows, g_term_cols, g_history_lines));
    fix_selection();
}

void mlist_delete_selected()
{
    if (has_selection()) delete_at(g_selected);
}

void mlist_delete_tagged()
{
    std::erase_if(g_machines, [](const MachinePtr &m) { return m->tagged; });
    fix_selection();
}

void mlist_delete_dead()
{
    for (int i = count() - 1; i >= 0; --i)
        if (!g_machines[static_cast<size_t>(i)]->alive) delete_at(i);
}

void mlist_delete_all()
{
    g_machines.clear();
    g_scroll = g_selected = 0;
}

void mlist_select_prev()
{
    --g_selected;
    fix_selection();
}

void mlist_select_next()
{
    ++g_selected;
    fix_selection();
}

void mlist_toggle_tag()
{
    if (has_selection()) {
        Machine *m = g_machines[static_cast<size_t>(g_selected)].get();
        m->tagged = !m->tagged;
    }
}

void mlist_set_tag(int i, bool tagged)
{
    if (i >= 0 && i < count()) g_machines[static_cast<size_t>(i)]->tagged = tagged;
}

void mlist_tag_all(bool live_only)
{
    for (auto &m : g_machines) m->tagged = live_only ? m->alive : true;
}

void mlist_toggle_tag_all(bool live_only)
{
    for (auto &m : g_machines)
        if (m->alive || !live_only) m->tagged = !m->tagged;
}

void mlist_untag_all()
{
    for (auto &m : g_machines) m->tagged = false;
}

void mlist_toggle_multicast()
{
    g_multicast = !g_multicast;
}

bool mlist_multicast()
{
    return g_multicast;
}

void mlist_send_key(int key)
{
    for_each_receiver([&](Machine &m) { tarvik_vt_keypress(m.term.get(), key); });
}

void mlist_send_text(const std::string &bytes)
{
    for_each_receiver([&](Machine &m) { tarvik_vt_send(m.term.get(), bytes.data(), bytes.size()); });
}

int mlist_send_each(const std::function<std::string(const Machine &)> &text)
{
    int sent = 0;
    for_each_receiver([&](Machine &m) {
        const std::string bytes = text(m);
        tarvik_vt_send(m.term.get(), bytes.data(), bytes.size());
        ++sent;
    });
    return sent;
}

void mlist_send_selected(const std::string &bytes)
{
    if (has_selection())
        tarvik_vt_send(g_machines[static_cast<size_t>(g_selected)]->term.get(), bytes.data(), bytes.size());
}

void mlist_send_paste(const std::string &bytes)
{
    for_each_receiver([&](Machine &m) { tarvik_vt_paste(m.term.get(), bytes.data(), bytes.size()); });
}

size_t mlist_input_room()
{
    size_t room = kTarvikInputMax;
    for_each_receiver([&](const Machine &m) { room = std::min(room, tarvik_vt_input_room(m.term.get())); });
    return room;
}

int mlist_tagged_count()
{
    return static_cast<int>(
        std::count_if(g_machines.begin(), g_machines.end(), [](const MachinePtr &m) { return m->tagged; }));
}

void mlist_child_exited(pid_t pid, int wait_status)
{
    // The whole list: a pid is not unique over time, and every machine holding it is done with it.
    for (auto &m : g_machines)
        if (m->pid == pid) machine_exited(m.get(), wait_status);
}

void mlist_reconnect_dead()
{
    bool holding = false;
    for (auto &m : g_machines) {
        if (m->alive) continue;
        if (!holding) tarvik_vt_hold_children();
        holding = true;
        machine_restart(m.get(), g_term_rows, g_term_cols);
    }
}

void mlist_children_started()
{
    for (auto &m : g_machines) machine_child_started(m.get());
}

void mlist_set_pacing(const LoginPacing &pacing)
{
    g_pacing = pacing;
}

namespace {

// The terminals mlist_watch gave the poll, in the order of their entries.
std::vector<TarvikVt *> g_watched;
std::vector<short> g_found;

size_t logins_holding()
{
    return static_cast<size_t>(std::count_if(g_machines.begin(), g_machines.end(),
                                             [](const MachinePtr &m) { return login_holds_slot(m->login); }));
}

} // namespace

void mlist_watch(std::vector<pollfd> &fds)
{
    g_watched.clear();
    for (auto &m : g_machines) {
        TarvikVt *vt = m->term.get();
        int fd = tarvik_vt_fd(vt);
        if (fd < 0) continue;
        fds.push_back({fd, tarvik_vt_poll_events(vt), 0});
        g_watched.push_back(vt);
    }
}

int mlist_start_due_ms()
{
    if (tarvik_vt_held_children() == 0) return -1;
    return static_cast<int>(logins_start_due_ms(g_pacing, logins_holding(), g_last_start_ms, clock_now_ms()));
}

void mlist_start_logins(int slice_ms)
{
    if (tarvik_vt_held_children() == 0) return;
    const long now = clock_now_ms();
    const size_t startable = logins_startable(g_pacing, logins_holding(), g_last_start_ms, now);
    if (startable == 0 || tarvik_vt_release_children(slice_ms, startable) == 0) return;
    g_last_start_ms = now;
    g_starts_unseen = true;
    mlist_children_started();
}

int mlist_logins_due_ms()
{
    if (g_starts_unseen) return 0;
    const long now = clock_now_ms();
    long due = -1;
    for (auto &m : g_machines) {
        const long ms = login_due_ms(m->login, now);
        if (ms >= 0 && (due < 0 || ms < due)) due = ms;
    }
    return static_cast<int>(std::min(due, kLoginTimeoutMs));
}

void mlist_follow_logins()
{
    g_starts_unseen = false;
    const long now = clock_now_ms();
    for (auto &m : g_machines) machine_follow_login(m.get(), now);
}

void mlist_ready(const pollfd *fds, size_t count)
{
    g_found.resize(count);
    for (size_t i = 0; i < count; ++i) g_found[i] = fds[i].revents;
    tarvik_vt_update_ready(g_watched.data(), g_found.data(), std::min(count, g_watched.size()));
    mlist_follow_logins();
}

void mlist_update()
{
    static std::vector<TarvikVt *> terms;
    terms.clear();
    for (auto &m : g_machines) terms.push_back(m->term.get());
    tarvik_vt_update_all(terms.data(), terms.size());
    mlist_follow_logins();
}

FleetCounts mlist_fleet_counts()
{
    FleetCounts counts{};
    for (auto &m : g_machines) ++counts[static_cast<size_t>(login_state(m->login))];
    return counts;
}

int mlist_tag_only(FleetState state)
{
    int tagged = 0;
    for (auto &m : g_machines) {
        m->tagged = login_state(m->login) == state;
        tagged += m->tagged ? 1 : 0;
    }
    return tagged;
}

void mlist_rename_selected(const std::string &name)
{
    if (has_selection()) machine_rename(g_machines[static_cast<size_t>(g_selected)].get(), name);
    mlist_update();
}

void mlist_select(int i)
{
    g_selected = i;
    fix_selection();
}

void mlist_resize(int term_rows, int term_cols)
{
    if (term_rows != g_term_rows || term_cols != g_term_cols) {
        g_term_rows = term_rows;
        g_term_cols = term_cols;
        for (auto &m : g_machines) tarvik_vt_resize(m->term.get(), term_rows, term_cols);
    }
    // A taller list shows machines above the old scroll position rather than blank rows below the last.
    int rows = g_window ? std::max(1, getmaxy(g_window)) : 1;
    g_scroll = std::max(0, std::min(g_scroll, count() - rows));
    fix_selection();
}

int mlist_count()
{
    return count();
}
int mlist_selected()
{
    return g_selected;
}
int mlist_scroll()
{
    return g_scroll;
}
WINDOW *mlist_window()
{
    return g_window;
}

Machine *mlist_machine(int i)
{
    if (i < 0 || i >= count()) return nullptr;
    return g_machines[static_cast<size_t>(i)].get();
}
