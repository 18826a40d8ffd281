// The pacing of logins: each machine's login from its queued start to the shell (or to its end), and
// how many queued logins may start at a time. An sshd takes only so many connections that have not
// logged in yet (MaxStartups: 10 by default, then it drops them at random), and a jump host or a
// directory server meets the same wall; logins paced below it all get through.
//
// Rules, on a clock the caller passes in (milliseconds that only go forward):
//   - A login is in progress from the start of its ssh until the cursor's line looks like a shell
//     prompt, or the screen has been quiet for kLoginQuietMs after printing anything, or ssh ends.
//   - While the cursor's line asks for a password, passphrase, PIN, code or host-key yes/no, the
//     machine is "asking": a login asking is in progress however long it waits, since sshd counts it
//     too (and ends it itself after its LoginGraceTime).
//   - A login that is not asking gives its slot up kLoginTimeoutMs after its start or after its last
//     question was answered (a host that never answers must not hold the queue), but counts as
//     logging in until it is done; asking again, it holds a slot again.
//   - At most LoginPacing::at_once logins hold a slot at once (0: no limit), and two starts are at
//     least LoginPacing::interval_ms apart. The rest wait, queued, in the order they were asked for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "machines/prompts.h"

// Logins at once unless the command line says otherwise: below a default sshd's MaxStartups of 10.
constexpr int kDefaultLoginsAtOnce = 8;
// A login that has printed and then said nothing for this long is taken as done: a prompt of a shape
// no rule knows, a banner without a shell, a command that waits.
constexpr long kLoginQuietMs = 3000;
// A login that shows nothing for this long gives its slot to the next one: a host that takes the
// connection and never answers.
constexpr long kLoginTimeoutMs = 20000;

struct LoginPacing {
    int at_once = kDefaultLoginsAtOnce; // 0: no limit
    int interval_ms = 0;
};

enum class LoginPhase : uint8_t { Queued, InProgress, Done, Ended };

// One machine's login. Written only by the functions below.
struct Login {
    LoginPhase phase = LoginPhase::Ended;
    bool asking = false;    // the cursor's line waits for a secret or a yes/no
    bool printed = false;   // the screen changed since the start
    bool gave_up = false;   // in progress past kLoginTimeoutMs: holds no slot any more
    unsigned long seen = 0; // the screen's version when last looked at
    long timed_from_ms = 0; // the start, or the end of the last question: what the time-out counts from
    long changed_ms = 0;    // when the screen last changed
};

// The state of a machine as the fleet's counts show it.
enum class FleetState : uint8_t { Up, LoggingIn, Queued, Asking, Dead };
constexpr size_t kFleetStates = 5;
using FleetCounts = std::array<int, kFleetStates>; // indexed by FleetState

// Its start waits in the queue.
void login_queue(Login &l);
// Its ssh started at now_ms, on a screen of this version.
void login_start(Login &l, unsigned long version, long now_ms);
// The screen has a version other than l.seen: it changed, and the cursor's line looks so.
void login_see(Login &l, unsigned long version, LineLook look, long now_ms);
// What time alone decides: quiet long enough after printing, or the time-out.
void login_tick(Login &l, long now_ms);
// Its ssh ended, or never could start.
void login_end(Login &l);

// True while the login takes one of the slots the pacing counts.
bool login_holds_slot(const Login &l);
FleetState login_state(const Login &l);
// Milliseconds until login_tick would change it with nothing seen meanwhile; -1 when time alone never
// will.
long login_due_ms(const Login &l, long now_ms);

// How many queued logins may start at now_ms, with `holding` logins in their slots and the last start
// at last_start_ms (negative: none yet). An interval lets one through at a time.
size_t logins_startable(const LoginPacing &p, size_t holding, long last_start_ms, long now_ms);
// Milliseconds until logins_startable lets one through on time alone (0: now); -1 while every slot is
// held, which only a login's own end or due time frees.
long logins_start_due_ms(const LoginPacing &p, size_t holding, long last_start_ms, long now_ms);
