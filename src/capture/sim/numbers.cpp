#include "capture/sim/numbers.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace kiru::sim {

bool ParseULong(const std::string& text, ULONG* value) {
    std::string t = Trim(text);
    int base = 10;
    std::size_t start = 0;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        base = 16;
        start = 2;
    }
    if (start >= t.size()) return false;
    unsigned long long v = 0;
    for (std::size_t i = start; i < t.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        int digit;
        if (std::isdigit(c)) digit = c - '0';
        else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
        else return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return false;
    }
    *value = static_cast<ULONG>(v);
    return true;
}

bool ParseDouble(const std::string& text, double* value) {
    std::string t = Trim(text);
    if (t.empty()) return false;
    const bool negative = t[0] == '-';
    const std::string magnitude = (negative || t[0] == '+') ? t.substr(1) : t;
    if (magnitude.size() > 2 && magnitude[0] == '0' && (magnitude[1] == 'x' || magnitude[1] == 'X')) {
        ULONG v;
        if (!ParseULong(magnitude, &v)) return false;
        *value = negative ? -static_cast<double>(v) : static_cast<double>(v);
        return true;
    }
    // strtod would also take "inf", "nan" and hexadecimal floats; refuse them.
    for (char c : magnitude) {
        if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' || c == '-' ||
              c == '+')) {
            return false;
        }
    }
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (end == t.c_str() || *end != '\0' || errno == ERANGE) return false;
    *value = v;
    return true;
}

bool ParseIPv4(const std::string& text, ULONG* value) {
    ULONG result = 0;
    std::size_t pos = 0;
    const std::string t = Trim(text);
    for (int part = 0; part < 4; ++part) {
        std::size_t dot = t.find('.', pos);
        if (part < 3 && dot == std::string::npos) return false;
        if (part == 3) dot = t.size();
        const std::string piece = t.substr(pos, dot - pos);
        if (piece.empty() || piece.size() > 3) return false;
        for (char c : piece) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
        const int n = std::atoi(piece.c_str());
        if (n > 255) return false;
        result = (result << 8) | static_cast<ULONG>(n);
        pos = dot + 1;
    }
    *value = result;
    return true;
}

bool ParseMac(const std::string& text, unsigned char mac[6]) {
    const std::string t = Trim(text);
    if (t.size() != 17) return false;
    for (int i = 0; i < 6; ++i) {
        const std::string group = t.substr(i * 3, 2);
        if (i < 5 && t[i * 3 + 2] != ':') return false;
        if (!std::isxdigit(static_cast<unsigned char>(group[0])) ||
            !std::isxdigit(static_cast<unsigned char>(group[1]))) {
            return false;
        }
        mac[i] = static_cast<unsigned char>(std::strtoul(group.c_str(), nullptr, 16));
    }
    return true;
}

std::string Trim(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace kiru::sim
