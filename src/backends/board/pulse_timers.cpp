// Board-timed output pulses. Each timer is a small script of the capture
// library's script engine: the body runs on the board's clock when the timer
// is started, asserts the output bit at the offset and releases it after the
// duration, all in board registers, so the pulse keeps its timing whatever
// the host is doing.
#include <kiru/pulse_timers.h>

#include "capture/module.h"
#include "capture/orv_types.h"
#include "capture/vixn.h"
#include "platform/clock.h"

namespace {

constexpr ULONG kLx2OutputRegister = 91;
constexpr ULONG kQb2OutputRegister = 36;
constexpr ULONG kQb2OutputEnable = 0x400;
constexpr ULONG kQb2TimerRegister = 108;
constexpr ULONG kItemOutputsNotInverted = 4;

long long Micro(double ms) { return static_cast<long long>(ms * 1000.0); }

}  // namespace

// ---- LX2 --------------------------------------------------------------------------

class CVixnPulseTimer::Script : public CVixn {
public:
    Script(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs)
        : CVixn(module, 10000.0, 1) {
        ULONG notInverted = 1;
        if (module != nullptr && module->QueryModuleInfo(kItemOutputsNotInverted, &notInverted) && notInverted == 0)
            level = level != 0 ? 0 : 1;
        m_offset = CVixnEle(Micro(offsetMs));
        m_duration = CVixnEle(Micro(durationMs));
        m_mask = CVixnEle(1LL << (bit & 31));
        m_level = CVixnEle(level);
    }

    CVixnEle m_offset{this};
    CVixnEle m_duration{this};
    CVixnEle m_runs{this};
    CVixnEle m_mask{this};
    CVixnEle m_level{this};
    CVixnEle m_register{this};
    CVixnEle m_done{this};
    CVixnEle m_start{this};

protected:
    void Body() override {
        m_start = ReadTimeMicro();
        VixnIfThen(m_offset < CVixnEle(100));
        Drive(m_level.Value() != 0);
        VixnElseDo();
        Schedule(&Script::Assert, m_offset);
        VixnEndif();
        Schedule(&Script::Release, m_offset + m_duration);
        ++m_runs;
    }

private:
    // Sets (or clears) the mask bits of the output register.
    void Drive(bool set) {
        m_register = ReadReg(kLx2OutputRegister, VIXN_OWN_MODULE);
        if (set)
            m_register |= m_mask;
        else
            m_register &= ~m_mask;
        WriteReg(kLx2OutputRegister, m_register, VIXN_OWN_MODULE);
    }
    void Assert() { Drive(m_level.Value() != 0); }
    void Release() {
        Drive(m_level.Value() == 0);
        m_done = CVixnEle(1);
    }
};

CVixnPulseTimer::CVixnPulseTimer(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs)
    : m_script(std::make_unique<Script>(module, bit, level, offsetMs, durationMs)) {}

CVixnPulseTimer::~CVixnPulseTimer() = default;

int CVixnPulseTimer::Create() { return m_script->Create(); }
int CVixnPulseTimer::Done() const { return m_script->m_done.Value() != 0 ? 1 : 0; }
ULONG CVixnPulseTimer::Level() const { return static_cast<ULONG>(m_script->m_level.Value()); }
ULONG CVixnPulseTimer::OffsetMicro() const { return static_cast<ULONG>(m_script->m_offset.Value()); }
ULONG CVixnPulseTimer::DurationMicro() const { return static_cast<ULONG>(m_script->m_duration.Value()); }
ULONG CVixnPulseTimer::Runs() const { return static_cast<ULONG>(m_script->m_runs.Value()); }
long long CVixnPulseTimer::StartMicro() const { return m_script->m_start.Value(); }

// ---- QB2 --------------------------------------------------------------------------

class CQB2PulseTimer::Script : public CVixn {
public:
    Script(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs)
        : CVixn(module, 10000.0, 5),
          m_level(level),
          m_offset(static_cast<ULONG>(Micro(offsetMs))),
          m_duration(static_cast<ULONG>(Micro(durationMs))),
          m_mask(1UL << (bit & 31)),
          m_endTime(kiru::platform::NowMs() + offsetMs + durationMs) {
        if (module == nullptr) return;
        ULONG value = module->GetModuleParam(kQb2OutputRegister) | kQb2OutputEnable;
        if (m_offset < 1000) {
            // Too soon to schedule: the bit goes to its active level now.
            value = m_level != 0 ? (value | m_mask) : (value & ~m_mask);
            if (m_duration > 600) m_duration -= 500;
        }
        module->SetModuleParam(kQb2OutputRegister, value);
        module->SetModuleParam(kQb2TimerRegister, 5000);
    }

    const ULONG m_level;
    const ULONG m_offset;
    ULONG m_duration;
    const ULONG m_mask;
    CVixnEle m_register{this};
    CVixnEle m_done{this};
    CVixnEle m_started{this};
    const double m_endTime;

protected:
    void Body() override {
        VixnIfThen(m_started == CVixnEle(0));
        m_started = CVixnEle(1);
        if (m_offset >= 1000) Schedule(&Script::Assert, CVixnEle(m_offset));
        Schedule(&Script::Release, CVixnEle(m_offset + m_duration));
        // A second release in case the first tick is missed; it finds the
        // done flag set otherwise and changes nothing.
        Schedule(&Script::Release, CVixnEle(m_offset + m_duration + 1000));
        VixnEndif();
    }

private:
    void Drive(bool set) {
        m_register = ReadReg(kQb2OutputRegister, VIXN_OWN_MODULE);
        if (set)
            m_register |= CVixnEle(m_mask);
        else
            m_register &= ~CVixnEle(m_mask);
    }
    void Assert() {
        Drive(m_level != 0);
        WriteReg(kQb2OutputRegister, m_register, VIXN_OWN_MODULE);
    }
    void Release() {
        VixnIfThen(m_done == CVixnEle(0));
        Drive(m_level == 0);
        WriteReg(kQb2OutputRegister, m_register, VIXN_OWN_MODULE);
        WriteReg(kQb2OutputRegister, m_register, VIXN_OWN_MODULE);
        m_done = CVixnEle(1);
        VixnEndif();
    }
};

CQB2PulseTimer::CQB2PulseTimer(CICapMod* module, ULONG bit, ULONG level, double offsetMs, double durationMs)
    : m_script(std::make_unique<Script>(module, bit, level, offsetMs, durationMs)) {}

CQB2PulseTimer::~CQB2PulseTimer() = default;

int CQB2PulseTimer::Create() { return m_script->Create(); }
int CQB2PulseTimer::Done() const { return m_script->m_done.Value() != 0 ? 1 : 0; }
double CQB2PulseTimer::EndTime() const { return m_script->m_endTime; }
ULONG CQB2PulseTimer::Level() const { return m_script->m_level; }
ULONG CQB2PulseTimer::Mask() const { return m_script->m_mask; }
ULONG CQB2PulseTimer::OffsetMicro() const { return m_script->m_offset; }
ULONG CQB2PulseTimer::DurationMicro() const { return m_script->m_duration; }
