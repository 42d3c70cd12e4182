#include "capture/sim/trace.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace kiru::sim {

namespace {

struct TraceStore {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::string file;
    bool fileFromEnvironment = false;
};

TraceStore& Store() {
    // Never destroyed: library threads may still trace while statics go away at exit.
    static TraceStore* store = new TraceStore;
    return *store;
}

// KIRU_TRACE names the trace file unless SetFile chose one; read once.
void LoadEnvironmentLocked(TraceStore& s) {
    if (s.fileFromEnvironment) return;
    s.fileFromEnvironment = true;
    if (const char* env = std::getenv("KIRU_TRACE")) {
        if (s.file.empty()) s.file = env;
    }
}

}  // namespace

TraceLine::TraceLine(const std::string& tag, const char* operation) : m_text(tag) {
    m_text += ' ';
    m_text += operation;
}

TraceLine& TraceLine::Add(const std::string& word) {
    m_text += ' ';
    m_text += word;
    return *this;
}

TraceLine& TraceLine::operator<<(double value) { return Add(FormatDouble(value)); }

TraceLine& TraceLine::operator<<(const char* text) { return Add(text ? text : ""); }

void TraceLine::Commit() { trace::Append(m_text); }

std::string FormatDouble(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

namespace trace {

void Append(const std::string& line) {
    TraceStore& s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    LoadEnvironmentLocked(s);
    s.lines.push_back(line);
    if (!s.file.empty()) {
        if (FILE* f = std::fopen(s.file.c_str(), "a")) {
            std::fputs(line.c_str(), f);
            std::fputc('\n', f);
            std::fclose(f);
        }
    }
}

std::vector<std::string> Lines() {
    TraceStore& s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lines;
}

void Clear() {
    TraceStore& s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lines.clear();
}

void SetFile(const std::string& path) {
    TraceStore& s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.fileFromEnvironment = true;
    s.file = path;
}

std::string File() {
    TraceStore& s = Store();
    std::lock_guard<std::mutex> lock(s.mutex);
    LoadEnvironmentLocked(s);
    return s.file;
}

}  // namespace trace
}  // namespace kiru::sim
