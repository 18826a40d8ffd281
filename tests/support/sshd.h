// A private sshd on 127.0.0.1 for end-to-end tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <string>

// Listens on a free loopback port, with throw-away host and user keys in a temporary directory.
// The client config it writes gives Host aliases h1..hN that all reach it without prompts, and the
// remote shells run with an empty HOME so that no start-up files slow the logins down.
// The server is stopped by pid and the directory removed when the fixture goes; if the test process
// dies first, the server is told to end too (it is bound to the thread that called start()).
struct Sshd {
    Sshd() = default;
    Sshd(const Sshd &) = delete;
    Sshd &operator=(const Sshd &) = delete;
    ~Sshd();

    // Starts the server with aliases h1..h<hosts>; false, with the reason on stderr, when it could not.
    bool start(int hosts = 16);
    // Ends the server and every session it still serves, then removes the directory. Safe to repeat.
    void stop();

    // sshd's MaxStartups, read by start(): how many connections that have not logged in yet it takes
    // before it drops them. High enough by default that hundreds of logins at once all get in.
    std::string max_startups = "300:30:600";

    std::string dir;    // temporary directory holding keys, configs and the log
    std::string config; // <dir>/ssh_config: client config with the Host aliases
    std::string home;   // <dir>/home: the empty HOME of remote shells
    std::string log;    // <dir>/sshd.log: what the server reported
    int port = 0;
    pid_t pid = -1;

    // "-F <dir>/ssh_config h<i>": what a user types at the "Add: " prompt to log into host i.
    std::string add_name(int i) const;
};
