// Acquisition parameters, board registers, ports and events of the QB2
// board, as numbered by the capture library.
#pragma once

#include <kiru/win_types.h>

namespace kiru::qb2 {

inline constexpr ULONG kStrobeOffset = 4;
inline constexpr ULONG kExposure = 8;
inline constexpr ULONG kTriggerEnable = 9;
inline constexpr ULONG kTriggerMode = 10;
inline constexpr ULONG kTriggerPolarity = 11;
inline constexpr ULONG kSoftTrigger = 13;
inline constexpr ULONG kContrast = 14;
inline constexpr ULONG kBrightness = 15;
inline constexpr ULONG kWindowX = 22;
inline constexpr ULONG kWindowY = 24;
inline constexpr ULONG kLinesPerFrame = 25;
inline constexpr ULONG kPlanePacking = 57;
inline constexpr ULONG kStrobeEnable = 60;
inline constexpr ULONG kStrobeDuration = 82;
inline constexpr ULONG kTriggerDebounce = 83;
inline constexpr ULONG kFrameRate = 95;
inline constexpr ULONG kPlaneMode = 16396;
inline constexpr ULONG kDecisionEnable = 16397;
inline constexpr ULONG kTriggerDelay = 16399;
inline constexpr ULONG kRejectorEnable = 16402;
inline constexpr ULONG kRejectorDelay = 16403;  // milliseconds
inline constexpr ULONG kPulseWidth = 16404;     // milliseconds
inline constexpr ULONG kRejectorMode = 16405;
inline constexpr ULONG kTriggerThreshold = 16409;
inline constexpr ULONG kThreshold0 = 16410;
inline constexpr ULONG kThreshold4 = 16411;

inline constexpr ULONG kSolutionRegister = 37;
inline constexpr ULONG kDummyDecisionRegister = 97;
inline constexpr ULONG kPortSolutionAck = 18;
inline constexpr ULONG kPortLedA = 32;
inline constexpr ULONG kPortLedB = 33;

inline constexpr ULONG kEventSolution = 16;

}  // namespace kiru::qb2
