// Another program started by a test, with its standard input a pipe the
// test holds and its standard output and error merged into one pipe the
// test reads.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kiru_test {

// The running test executable.
std::filesystem::path SelfExecutable();

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();  // kills a child still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` with `args` (passed as they are, no shell) in this
    // process's environment plus the "NAME=value" entries of `env`. False
    // with *why set when it cannot be started.
    bool Start(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env, std::string* why);

    // Reads output until `marker` has been seen (true) or the output ends.
    bool ReadUntil(const std::string& marker);

    // Closes the child's input, reads its output to the end and waits for
    // it; its exit code, or -1 when it did not exit by itself.
    int Wait();

    // Ends the child at once, without asking it, and waits for it.
    void Kill();

    const std::string& Output() const { return out_; }

private:
    // Appends what the output pipe has next; false at its end.
    bool ReadSome();
    void CloseInput();
    void CloseOutput();
    int Reap(bool kill);

    std::string out_;
#if defined(_WIN32)
    void* process_ = nullptr;
    void* in_ = nullptr;
    void* outPipe_ = nullptr;
#else
    int pid_ = -1;
    int in_ = -1;
    int outPipe_ = -1;
#endif
};

// Runs `program` to its end: its exit code (-1 when it could not be started
// or did not exit by itself) and everything it printed.
struct ProgramRun {
    int status = -1;
    std::string out;
};
ProgramRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args);

}  // namespace kiru_test
