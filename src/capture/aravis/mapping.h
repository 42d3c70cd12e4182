// How the numbered camera parameters, pixel formats and frame ids of the
// capture contract map onto GenICam and GigE Vision (docs/gige.md). Plain
// data and arithmetic, without a camera: the device code looks features up
// in this order and takes the first the camera has.
#pragma once

#include <kiru/win_types.h>

#include <cstdint>
#include <string>

namespace kiru::gev {

// Numbered parameters the device answers.
enum : ULONG {
    kParamTriggerMode = 9,
    kParamTriggerSource = 10,
    kParamSoftwareTrigger = 13,
    kParamHostHeight = 25,
    kParamBrightness = 58,
    kParamModel = 67,
    kParamBayer = 74,
    kParamRedGain = 77,
    kParamGreenGain = 78,
    kParamBlueGain = 79,
    kParamFrameTime = 80,
    kParamFrameRate = 95,
    kParamExposure = 0x4000,
    kParamContrast = 0x4003,
    kParamCameraAddress = 0x400E,
    kParamMacAddress = 0x400F,
    kParamSerial = 0x4010,
    kParamPacketSize = 0x4012,
    kParamHostAddress = 0x4014,
};

// Trigger source number 6: the camera's own frame-rate timer (free running
// at AcquisitionFrameRate), which GenICam expresses as trigger mode Off.
constexpr ULONG kSourceTimer = 6;

// The GenICam features a numeric parameter maps to, in the order they are
// tried; null-terminated. Null for parameters that are not a plain numeric
// feature (triggers, texts, gains, frame times) or not mapped at all.
const char* const* NumericFeatures(ULONG number);

// True for the identity texts (model, serial or id, addresses, MAC).
bool IsTextParam(ULONG number);

// The TriggerSource entry of a trigger source number: 0 "Software",
// 1 to 5 "Line0" to "Line4"; empty for other numbers (kSourceTimer included).
std::string TriggerSourceEntry(ULONG source);
// The number of a TriggerSource entry; false for an entry without one.
bool TriggerSourceNumber(const std::string& entry, ULONG* source);

// The selector entry of a colour gain parameter ("Red", "Green", "Blue").
const char* GainColour(ULONG number);

// What a PixelFormat entry means for the contract's attribute record.
struct PixelLayout {
    ULONG bytesPerPixel = 0;
    ULONG bitsPerPixel = 0;
    ULONG colorFormat = 0;  // ORV_COLOR
    ULONG bayer = 0;        // ORV_BAYER, 0 for none
    bool known = false;
};
PixelLayout PixelFormatLayout(const std::string& pixelFormat);

// "xx:xx:xx:xx:xx:xx" of the 48-bit MAC address in the bootstrap registers
// (high: the upper 16 bits, low: the lower 32).
std::string MacText(ULONG high, ULONG low);

// Frames from block id `from` to block id `to` of one stream: 1 for the next
// frame, 1 + n when n frames were lost between them. GigE Vision block ids
// of 16 bits skip 0 and wrap from 65535 to 1; larger ids are 64-bit and do
// not wrap. 0 for a repeated or earlier id.
std::uint64_t FrameIdDistance(std::uint64_t from, std::uint64_t to);

}  // namespace kiru::gev
