// Number syntax of station files and text parameters.
#pragma once

#include <kiru/win_types.h>

#include <string>

namespace kiru::sim {

// Unsigned 32-bit number: decimal or 0x-hexadecimal, nothing else.
bool ParseULong(const std::string& text, ULONG* value);
// Double: decimal notation, or an integer in 0x-hexadecimal.
bool ParseDouble(const std::string& text, double* value);
// Dotted IPv4 text to a host-order address.
bool ParseIPv4(const std::string& text, ULONG* value);
// Six colon-separated two-digit hexadecimal groups.
bool ParseMac(const std::string& text, unsigned char mac[6]);

std::string Trim(const std::string& text);
std::string Lower(std::string text);

}  // namespace kiru::sim
