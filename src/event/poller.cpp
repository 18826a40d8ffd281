// The program's descriptors, registered with epoll and changed only when the set changes.
#include "event/poller.h"

#include <errno.h>
#include <sys/epoll.h>
#include <time.h>

#include <cstdint>

#include "term/fd.h"

namespace {

struct Slot {
    uint32_t registered = 0; // the events the kernel's set has for this descriptor
    bool in_set = false;
    uint32_t wanted = 0;    // the events this call's entries ask for
    unsigned long call = 0; // the last call whose entries named it
    uint32_t found = 0;     // what this call's wait reported
};

struct Poller {
    Fd epoll;
    // Fd's count of closes when the set was made: epoll watches files, not numbers, so once a
    // descriptor was closed its number may name another file, one never registered.
    unsigned long closes = 0;
    unsigned long call = 0;
    std::vector<Slot> slots; // by descriptor
    std::vector<int> in_set; // the descriptors in the kernel's set
    std::vector<int> named;  // the descriptors this call's entries name, each once
    std::vector<epoll_event> events;
};
Poller g_poller;

Slot &slot(Poller &p, int fd)
{
    if (static_cast<size_t>(fd) >= p.slots.size()) p.slots.resize(static_cast<size_t>(fd) + 1);
    return p.slots[static_cast<size_t>(fd)];
}

void new_set(Poller &p)
{
    for (int fd : p.in_set) p.slots[static_cast<size_t>(fd)].in_set = false;
    p.in_set.clear();
    p.epoll.reset(epoll_create1(EPOLL_CLOEXEC));
    p.closes = fd_closes();
}

// Brings the kernel's set to this call's entries; false when one cannot be in it (a regular file, a
// closed descriptor): only poll waits on those as asked.
bool follow_entries(Poller &p, const std::vector<pollfd> &fds)
{
    if (!p.epoll.valid() || p.closes != fd_closes()) new_set(p);
    if (!p.epoll.valid()) return false;
    ++p.call;
    p.named.clear();
    for (const pollfd &e : fds) {
        if (e.fd < 0) continue;
        Slot &s = slot(p, e.fd);
        if (s.call != p.call) {
            s.call = p.call;
            s.wanted = 0;
            p.named.push_back(e.fd);
        }
        s.wanted |= static_cast<uint16_t>(e.events);
    }
    for (int fd : p.named) {
        Slot &s = p.slots[static_cast<size_t>(fd)];
        if (s.in_set && s.registered == s.wanted) continue;
        epoll_event ev{};
        ev.events = s.wanted;
        ev.data.fd = fd;
        if (epoll_ctl(p.epoll.get(), s.in_set ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev) != 0) {
            // Made again next time, from nothing: what this call did to the set is not kept track of.
            p.closes = ~fd_closes();
            return false;
        }
        if (!s.in_set) p.in_set.push_back(fd);
        s.in_set = true;
        s.registered = s.wanted;
    }
    // What no entry names any more leaves the set.
    size_t kept = 0;
    for (int fd : p.in_set) {
        Slot &s = p.slots[static_cast<size_t>(fd)];
        if (s.call == p.call) {
            p.in_set[kept++] = fd;
        } else {
            epoll_ctl(p.epoll.get(), EPOLL_CTL_DEL, fd, nullptr);
            s.in_set = false;
        }
    }
    p.in_set.resize(kept);
    return true;
}

int fallback_poll(std::vector<pollfd> &fds, int timeout_ms, const sigset_t *mask)
{
    timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    return ppoll(fds.data(), fds.size(), timeout_ms < 0 ? nullptr : &ts, mask);
}

} // namespace

int poller_wait(std::vector<pollfd> &fds, int timeout_ms, const sigset_t *mask)
{
    Poller &p = g_poller;
    for (pollfd &e : fds) e.revents = 0;
    if (!follow_entries(p, fds)) return fallback_poll(fds, timeout_ms, mask);
    p.events.resize(p.in_set.empty() ? 1 : p.in_set.size());
    int n = epoll_pwait(p.epoll.get(), p.events.data(), static_cast<int>(p.events.size()), timeout_ms, mask);
    if (n <= 0) return n;
    for (int i = 0; i < n; ++i)
        p.slots[static_cast<size_t>(p.events[static_cast<size_t>(i)].data.fd)].found =
            p.events[static_cast<size_t>(i)].events;
    int ready = 0;
    for (pollfd &e : fds) {
        if (e.fd < 0) continue;
        // The bits poll and epoll share have the same values; hang-up and error are always reported.
        uint32_t asked = static_cast<uint16_t>(e.events) | POLLHUP | POLLERR;
        e.revents = static_cast<short>(p.slots[static_cast<size_t>(e.fd)].found & asked);
        if (e.revents) ++ready;
    }
    for (int i = 0; i < n; ++i)
        p.slots[static_cast<size_t>(p.events[static_cast<size_t>(i)].data.fd)].found = 0;
    return ready;
}
