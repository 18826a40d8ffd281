// A loopback port that takes connections and never says a word: an ssh child aimed at it waits for the
// server's greeting for as long as the port stays open, a machine that lives until the test says so.
#pragma once

#include <string>

class SilentListener {
public:
    // Listens on 127.0.0.1 and a free port; port() is 0 when that failed.
    SilentListener();
    ~SilentListener();
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    int port() const { return port_; }
    // "ssh://127.0.0.1:<port>": one word, so it also works in a machine-list file.
    std::string name() const;
    // Connections that reached the port and were never accepted.
    int waiting() const;
    // Waits until `n` connections are waiting; false after the time-out.
    bool wait_waiting(int n, int timeout_ms = 20000) const;
    // Closes the port: every waiting connection is reset at once, and every ssh on it ends.
    void close();

private:
    int fd_ = -1;
    int port_ = 0;
};
