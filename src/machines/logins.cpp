// The rules of one login's life and of the queue's pacing; see logins.h.
#include "machines/logins.h"

#include <algorithm>
#include <limits>

namespace {

size_t free_slots(const LoginPacing &p, size_t holding)
{
    if (p.at_once <= 0) return std::numeric_limits<size_t>::max();
    const auto at_once = static_cast<size_t>(p.at_once);
    return holding < at_once ? at_once - holding : 0;
}

bool interval_over(const LoginPacing &p, long last_start_ms, long now_ms)
{
    return p.interval_ms <= 0 || last_start_ms < 0 || now_ms - last_start_ms >= p.interval_ms;
}

} // namespace

void login_queue(Login &l)
{
    l = Login{};
    l.phase = LoginPhase::Queued;
}

void login_start(Login &l, unsigned long version, long now_ms)
{
    l = Login{};
    l.phase = LoginPhase::InProgress;
    l.seen = version;
    l.timed_from_ms = l.changed_ms = now_ms;
}

void login_see(Login &l, unsigned long version, LineLook look, long now_ms)
{
    l.seen = version;
    if (l.phase != LoginPhase::InProgress && l.phase != LoginPhase::Done) return;
    l.printed = true;
    l.changed_ms = now_ms;
    const bool asking = look == LineLook::Asking;
    // An answer starts the time-out again: what follows it (the shell, or the question again) is the
    // server's to send now.
    if (l.asking && !asking) {
        l.timed_from_ms = now_ms;
        l.gave_up = false;
    }
    l.asking = asking;
    if (l.phase == LoginPhase::InProgress && look == LineLook::ShellPrompt) l.phase = LoginPhase::Done;
}

void login_tick(Login &l, long now_ms)
{
    if (l.phase != LoginPhase::InProgress || l.asking) return;
    if (l.printed && now_ms - l.changed_ms >= kLoginQuietMs) {
        l.phase = LoginPhase::Done;
        return;
    }
    if (now_ms - l.timed_from_ms >= kLoginTimeoutMs) l.gave_up = true;
}

void login_end(Login &l)
{
    l.phase = LoginPhase::Ended;
    l.asking = false;
}

bool login_holds_slot(const Login &l)
{
    return l.phase == LoginPhase::InProgress && (l.asking || !l.gave_up);
}

FleetState login_state(const Login &l)
{
    switch (l.phase) {
    case LoginPhase::Queued: return FleetState::Queued;
    case LoginPhase::Ended: return FleetState::Dead;
    case LoginPhase::InProgress:
    case LoginPhase::Done: break;
    }
    if (l.asking) return FleetState::Asking;
    return l.phase == LoginPhase::Done ? FleetState::Up : FleetState::LoggingIn;
}

long login_due_ms(const Login &l, long now_ms)
{
    if (l.phase != LoginPhase::InProgress || l.asking) return -1;
    long due = -1;
    if (l.printed) due = l.changed_ms + kLoginQuietMs;
    if (!l.gave_up) {
        const long timeout = l.timed_from_ms + kLoginTimeoutMs;
        due = due < 0 ? timeout : std::min(due, timeout);
    }
    return due < 0 ? -1 : std::max(0L, due - now_ms);
}

size_t logins_startable(const LoginPacing &p, size_t holding, long last_start_ms, long now_ms)
{
    const size_t slots = free_slots(p, holding);
    if (slots == 0 || !interval_over(p, last_start_ms, now_ms)) return 0;
    return p.interval_ms > 0 ? 1 : slots;
}

long logins_start_due_ms(const LoginPacing &p, size_t holding, long last_start_ms, long now_ms)
{
    if (free_slots(p, holding) == 0) return -1;
    if (interval_over(p, last_start_ms, now_ms)) return 0;
    return last_start_ms + p.interval_ms - now_ms;
}
