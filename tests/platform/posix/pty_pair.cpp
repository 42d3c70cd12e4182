#include "platform/posix/pty_pair.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "support/poll.h"

extern char** environ;

PtyPair::~PtyPair() {
    Kill();
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

bool PtyPair::Start(bool* missing, std::string* why) {
    *missing = false;
    std::string pattern = (std::filesystem::temp_directory_path() / "kiru-pty-XXXXXX").string();
    if (::mkdtemp(&pattern[0]) == nullptr) {
        *why = std::string("mkdtemp: ") + std::strerror(errno);
        return false;
    }
    folder_ = pattern;
    endA_ = folder_ + "/a";
    endB_ = folder_ + "/b";

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);
    std::string a = "pty,raw,echo=0,link=" + endA_;
    std::string b = "pty,raw,echo=0,link=" + endB_;
    std::vector<char*> argv = {const_cast<char*>("socat"), const_cast<char*>("-d"), const_cast<char*>("-d"),
                               &a[0], &b[0], nullptr};
    const int spawned = ::posix_spawnp(&pid_, "socat", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    logFd_ = pipeFds[0];
    if (spawned != 0) {
        pid_ = -1;
        *missing = spawned == ENOENT;
        *why = std::string("cannot start socat: ") + std::strerror(spawned);
        return false;
    }

    // socat reports on standard error when it starts moving data.
    ::fcntl(logFd_, F_SETFL, O_NONBLOCK);
    std::string log;
    bool ended = false;
    kiru_test::WaitUntil(
        [&] {
            char chunk[512];
            const ssize_t n = ::read(logFd_, chunk, sizeof chunk);
            if (n > 0) log.append(chunk, static_cast<std::size_t>(n));
            ended = n == 0;
            return ended || log.find("starting data transfer loop") != std::string::npos;
        },
        std::chrono::seconds(10));
    if (log.find("starting data transfer loop") == std::string::npos) {
        *why = (ended ? "socat ended: " : "socat did not get ready: ") + log;
        return false;
    }
    if (::access(endA_.c_str(), F_OK) != 0 || ::access(endB_.c_str(), F_OK) != 0) {
        *why = "socat made no links: " + log;
        return false;
    }
    return true;
}

void PtyPair::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (logFd_ >= 0) {
        ::close(logFd_);
        logFd_ = -1;
    }
}
