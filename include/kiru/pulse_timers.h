// Pulse timers: one output pulse with an offset and a duration, timed on an
// appliance board by a script of the capture library's script engine rather
// than by the host. A timer is built per pulse, started with Create, and
// deleted by its owner once it has finished (Done) or, for a QB2 timer, once
// its end time has passed.
//
// CVixnPulseTimer drives a bit of register 91 of an LX2 board; CQB2PulseTimer
// a bit of register 36 of a QB2 board. Offsets and durations are given in
// milliseconds and timed in microseconds on the board's clock.
#pragma once

#include <kiru/export.h>
#include <kiru/win_types.h>

#include <memory>

class CICapMod;

class KIRU_API CVixnPulseTimer {
public:
    // A pulse of `level` on `bit` after offsetMs, lasting durationMs. A board
    // whose information item 4 reads 0 has inverted outputs: the level is
    // inverted to match.
    CVixnPulseTimer(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs);
    virtual ~CVixnPulseTimer();
    CVixnPulseTimer(const CVixnPulseTimer&) = delete;
    CVixnPulseTimer& operator=(const CVixnPulseTimer&) = delete;

    // Starts the script on the board; 0 when it ran before or the board is gone.
    int Create();
    // 1 once the release step has run.
    int Done() const;
    ULONG Level() const;          // the level driven, after any inversion
    ULONG OffsetMicro() const;    // microseconds
    ULONG DurationMicro() const;  // microseconds
    ULONG Runs() const;           // times the body has run
    long long StartMicro() const; // board clock (microseconds) when the body last started

    class Script;

private:
    std::unique_ptr<Script> m_script;
};

class KIRU_API CQB2PulseTimer {
public:
    // Builds the pulse; an offset below 1 ms asserts the bit at once (and a
    // duration above 600 us then loses 500 us). The board's register 36 gets
    // its enable bit and register 108 the value 5000.
    CQB2PulseTimer(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs);
    virtual ~CQB2PulseTimer();
    CQB2PulseTimer(const CQB2PulseTimer&) = delete;
    CQB2PulseTimer& operator=(const CQB2PulseTimer&) = delete;

    // Starts the script on the board; 0 when it ran before or the board is gone.
    int Create();
    // 1 once the release step has run.
    int Done() const;
    // Host time (milliseconds, monotonic clock) by which the pulse is over.
    double EndTime() const;
    ULONG Level() const;
    ULONG Mask() const;           // 1 << bit
    ULONG OffsetMicro() const;    // microseconds
    ULONG DurationMicro() const;  // microseconds, after any shortening

    class Script;

private:
    std::unique_ptr<Script> m_script;
};
