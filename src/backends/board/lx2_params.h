// Acquisition parameters and board ports of the LX2 board, as numbered by
// the capture library.
#pragma once

#include <kiru/win_types.h>

namespace kiru::lx2 {

inline constexpr ULONG kStrobePolarity = 3;
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
inline constexpr ULONG kControlRegister = 57;
inline constexpr ULONG kPlanePacking = 57;
inline constexpr ULONG kStrobeEnable = 60;
inline constexpr ULONG kStrobeDuration = 82;
inline constexpr ULONG kTriggerDebounce = 83;
inline constexpr ULONG kFrameRate = 95;
inline constexpr ULONG kSlowStart = 0x4003;
inline constexpr ULONG kSerialPort = 0x400B;
inline constexpr ULONG kPlaneMode = 0x4016;
inline constexpr ULONG kRejectSensorDebounce = 0x401D;
inline constexpr ULONG kTriggerDelayArm = 0x401A;
inline constexpr ULONG kTriggerDelay = 0x401B;
inline constexpr ULONG kDecisionReset = 0x4019;
// The two decision outputs (line 1 "Decision 0", line 2 "Decision 1").
struct DecisionParams {
    ULONG enable, mode, queue, fail, polarity, delay, width;
};
inline constexpr DecisionParams kDecision[2] = {
    {0x4028, 0x4022, 0x4023, 0x4029, 0x4027, 0x4024, 0x4025},
    {0x4030, 0x402A, 0x402B, 0x4031, 0x402F, 0x402C, 0x402D},
};

// Board register of the plain outputs, and output ports.
inline constexpr ULONG kOutputRegister = 91;
inline constexpr ULONG kPortLed1 = 4;
inline constexpr ULONG kPortLed2 = 5;
inline constexpr ULONG kPortSolutionAck = 6;
inline constexpr ULONG kPortDecision[3] = {7, 8, 9};

// Interrupt events.
inline constexpr ULONG kEventTrigger = 20;
inline constexpr ULONG kEventSolution = 21;
inline constexpr ULONG kEventRejectSensor = 22;

}  // namespace kiru::lx2
