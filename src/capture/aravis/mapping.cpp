#include "capture/aravis/mapping.h"

#include <cstdio>

#include "capture/orv_types.h"

namespace kiru::gev {

namespace {

constexpr std::uint64_t kShortIdLimit = 0xFFFF;
// A 16-bit id further ahead than this is taken as an earlier frame.
constexpr std::uint64_t kShortIdWindow = 0x8000;

struct NumericParam {
    ULONG number;
    const char* features[3];
};

// Standard feature names first, then the older "...Abs"/"...Raw" forms.
const NumericParam kNumeric[] = {
    {kParamExposure, {"ExposureTime", "ExposureTimeAbs", nullptr}},
    {kParamFrameRate, {"AcquisitionFrameRate", "AcquisitionFrameRateAbs", nullptr}},
    {kParamPacketSize, {"GevSCPSPacketSize", nullptr, nullptr}},
    {kParamBrightness, {"BlackLevel", "BlackLevelRaw", nullptr}},
    {kParamContrast, {"Gain", "GainRaw", nullptr}},
    {kParamHostHeight, {"Height", nullptr, nullptr}},
};

struct Layout {
    const char* name;
    PixelLayout layout;
};

const Layout kLayouts[] = {
    {"Mono8", {1, 8, ORV_COLOR_MONO8, 0, true}},
    {"BayerRG8", {1, 8, ORV_COLOR_MONO8, ORV_BAYER_RG, true}},
    {"BayerGR8", {1, 8, ORV_COLOR_MONO8, ORV_BAYER_GR, true}},
    {"BayerGB8", {1, 8, ORV_COLOR_MONO8, ORV_BAYER_GB, true}},
    {"BayerBG8", {1, 8, ORV_COLOR_MONO8, ORV_BAYER_BG, true}},
    {"BGRa8", {4, 32, ORV_COLOR_BGR32, 0, true}},
    {"BGR8", {3, 24, ORV_COLOR_BGR24, 0, true}},
    {"RGB8", {3, 24, ORV_COLOR_BGR24, 0, true}},
    {"Mono10", {2, 16, ORV_COLOR_MONO16, 0, true}},
    {"Mono12", {2, 16, ORV_COLOR_MONO16, 0, true}},
    {"Mono14", {2, 16, ORV_COLOR_MONO16, 0, true}},
    {"Mono16", {2, 16, ORV_COLOR_MONO16, 0, true}},
};

}  // namespace

const char* const* NumericFeatures(ULONG number) {
    for (const NumericParam& p : kNumeric) {
        if (p.number == number) return p.features;
    }
    return nullptr;
}

bool IsTextParam(ULONG number) {
    return number == kParamModel || number == kParamSerial || number == kParamCameraAddress ||
           number == kParamMacAddress || number == kParamHostAddress;
}

std::string TriggerSourceEntry(ULONG source) {
    if (source == 0) return "Software";
    if (source >= 1 && source <= 5) return "Line" + std::to_string(source - 1);
    return "";
}

bool TriggerSourceNumber(const std::string& entry, ULONG* source) {
    for (ULONG s = 0; s <= 5; ++s) {
        if (entry == TriggerSourceEntry(s)) {
            *source = s;
            return true;
        }
    }
    return false;
}

const char* GainColour(ULONG number) {
    switch (number) {
        case kParamRedGain: return "Red";
        case kParamGreenGain: return "Green";
        case kParamBlueGain: return "Blue";
        default: return nullptr;
    }
}

PixelLayout PixelFormatLayout(const std::string& pixelFormat) {
    for (const Layout& l : kLayouts) {
        if (pixelFormat == l.name) return l.layout;
    }
    return PixelLayout{};
}

std::string MacText(ULONG high, ULONG low) {
    char text[24];
    const unsigned bytes[6] = {unsigned(high >> 8) & 0xFF, unsigned(high) & 0xFF, unsigned(low >> 24) & 0xFF,
                               unsigned(low >> 16) & 0xFF, unsigned(low >> 8) & 0xFF, unsigned(low) & 0xFF};
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", bytes[0], bytes[1], bytes[2], bytes[3],
                  bytes[4], bytes[5]);
    return text;
}

std::uint64_t FrameIdDistance(std::uint64_t from, std::uint64_t to) {
    if (from > kShortIdLimit || to > kShortIdLimit) return to > from ? to - from : 0;
    if (from == to || from == 0 || to == 0) return 0;
    // Ids run 1 .. 65535: 65535 values in the cycle.
    const std::uint64_t ahead = to > from ? to - from : to + kShortIdLimit - from;
    return ahead < kShortIdWindow ? ahead : 0;
}

}  // namespace kiru::gev
