// Two pseudo-terminals joined back to back by a socat process: what is
// written to one end can be read at the other, as over a null-modem cable.
#pragma once

#include <string>
#include <sys/types.h>

class PtyPair {
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Starts socat and waits (up to 10 s) until both ends exist and it is
    // moving data. False when socat cannot be started (*missing set when it
    // is not installed) or does not get ready; *why says what happened.
    bool Start(bool* missing, std::string* why);

    // Kills socat at once (the peer of both ends goes away) and reaps it.
    void Kill();

    const std::string& EndA() const { return endA_; }
    const std::string& EndB() const { return endB_; }

private:
    std::string folder_;
    std::string endA_;
    std::string endB_;
    pid_t pid_ = -1;
    int logFd_ = -1;  // socat's standard error, kept open while it runs
};
