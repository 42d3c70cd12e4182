// Starting a child process on POSIX systems: posix_spawn with pipes on its
// standard streams.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/child_process.h"

extern char** environ;

namespace kiru_test {

namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

std::filesystem::path SelfExecutable() { return std::filesystem::read_symlink("/proc/self/exe"); }

bool ChildProcess::Start(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, std::string* why) {
    Kill();
    out_.clear();
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(out, O_CLOEXEC) != 0) {
        *why = std::string("pipe: ") + std::strerror(errno);
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    // This process's environment, with the entries of `env` in place of
    // any of the same name.
    std::vector<std::string> entries;
    for (char** e = environ; *e != nullptr; ++e) {
        bool replaced = false;
        for (const std::string& added : env) replaced = replaced || NameOf(added) == NameOf(*e);
        if (!replaced) entries.emplace_back(*e);
    }
    entries.insert(entries.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : entries) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program.string();
    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    if (rc != 0) {
        *why = "cannot start " + path + ": " + std::strerror(rc);
        ::close(in[1]);
        ::close(out[0]);
        return false;
    }
    pid_ = pid;
    in_ = in[1];
    outPipe_ = out[0];
    return true;
}

bool ChildProcess::ReadSome() {
    if (outPipe_ < 0) return false;
    char buffer[4096];
    ssize_t n;
    do {
        n = ::read(outPipe_, buffer, sizeof buffer);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return false;
    out_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

void ChildProcess::CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
}

void ChildProcess::CloseOutput() {
    if (outPipe_ >= 0) ::close(outPipe_);
    outPipe_ = -1;
}

int ChildProcess::Reap(bool kill) {
    if (pid_ <= 0) return -1;
    if (kill) ::kill(pid_, SIGKILL);
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid_, &status, 0);
    } while (done < 0 && errno == EINTR);
    pid_ = -1;
    if (done < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace kiru_test
