// The system-neutral part of ChildProcess: reading its output.
#include "support/child_process.h"

namespace kiru_test {

ChildProcess::~ChildProcess() { Kill(); }

bool ChildProcess::ReadUntil(const std::string& marker) {
    while (out_.find(marker) == std::string::npos) {
        if (!ReadSome()) return false;
    }
    return true;
}

int ChildProcess::Wait() {
    CloseInput();
    while (ReadSome()) {
    }
    CloseOutput();
    return Reap(false);
}

void ChildProcess::Kill() {
    Reap(true);
    CloseInput();
    CloseOutput();
}

ProgramRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args) {
    ProgramRun run;
    ChildProcess child;
    std::string why;
    if (!child.Start(program, args, {}, &why)) {
        run.out = why;
        return run;
    }
    run.status = child.Wait();
    // Text written on Windows ends its lines with CR LF.
    for (const char c : child.Output()) {
        if (c == '\n' && !run.out.empty() && run.out.back() == '\r') run.out.pop_back();
        run.out += c;
    }
    return run;
}

}  // namespace kiru_test
