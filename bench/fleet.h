// Logging into a fleet at once against an sshd with its default MaxStartups, paced and not.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

// sshd's own default: beyond 10 connections that have not logged in yet, 30 % of new ones are dropped,
// more as there are more, all beyond 100.
constexpr char kDefaultMaxStartups[] = "10:30:100";

// How one start of quillor with many machines from a file ended, by its own bottom line.
struct FleetRun {
    std::optional<double> settled_s; // from quillor's start until every machine is up or dead
    int up = 0;
    int dead = 0; // their ssh ended: with 255, as the sshd dropped them
};

// Starts `quillor -P logins_at_once @hosts_file` on 120 x 40 and waits until its bottom line counts
// `machines` machines up or dead, none logging in, queued or asking. The remote shells are those of the
// sshd `sshd_pid`; the run waits until they are gone again.
FleetRun measure_fleet(const std::string &quillor, const std::string &hosts_file, int machines,
                       pid_t sshd_pid, int logins_at_once);

// While alive, the client config `path` stands over the system-wide one (on top of what the harness put
// there), so that h1..hN reach the sshd it names; ok() is false when it could not be put in place.
class ClientConfigOver {
public:
    explicit ClientConfigOver(const std::string &path);
    ~ClientConfigOver();
    ClientConfigOver(const ClientConfigOver &) = delete;
    ClientConfigOver &operator=(const ClientConfigOver &) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};
