// The station's trace: one line per call that changed simulated hardware,
// "NAME:INDEX[/CHANNEL] Operation arg arg ...", integers in decimal and
// doubles as %g. Kept in memory and, when a trace file is set (KIRU_TRACE),
// appended to that file as well.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace kiru::sim {

// Builds one trace line: TraceLine(tag, "SetAcqParam") << 13 << 0.0 << 0.
class TraceLine {
public:
    TraceLine(const std::string& tag, const char* operation);

    template <class T, std::enable_if_t<std::is_integral_v<T> && std::is_signed_v<T>, int> = 0>
    TraceLine& operator<<(T value) { return Add(std::to_string(static_cast<long long>(value))); }
    template <class T, std::enable_if_t<std::is_integral_v<T> && !std::is_signed_v<T>, int> = 0>
    TraceLine& operator<<(T value) { return Add(std::to_string(static_cast<unsigned long long>(value))); }
    TraceLine& operator<<(double value);
    TraceLine& operator<<(const char* text);
    TraceLine& operator<<(const std::string& text) { return Add(text); }

    const std::string& Text() const { return m_text; }
    // Appends the line to the station trace.
    void Commit();

private:
    TraceLine& Add(const std::string& word);
    std::string m_text;
};

// The doubles of a trace line, formatted with %g.
std::string FormatDouble(double value);

namespace trace {
void Append(const std::string& line);
std::vector<std::string> Lines();
void Clear();
// Names the file every line is also appended to; empty: memory only.
void SetFile(const std::string& path);
std::string File();
}  // namespace trace

}  // namespace kiru::sim
