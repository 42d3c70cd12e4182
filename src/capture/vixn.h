// The board scripting engine. A script class derives from CVixn, keeps its
// variables as CVixnEle members bound to the script, and writes its body
// with them; CVixn::Create starts the body on the board's clock thread.
// Steps scheduled with Schedule run there too, at their time (microseconds
// after the body started, on the board's tick given by the time base).
//
// Statements between VixnIfThen(cond) and VixnEndif() (with an optional
// VixnElseDo()) take effect only on the chosen branch: variable changes,
// register writes and scheduled steps are skipped on the other one. Plain
// C++ in the body runs as written.
//
// A script is deleted by its owner. Deleting it cancels its pending steps
// and waits for a running one; script classes must therefore bind at least
// one CVixnEle member (CVixnEle m_done{this}), whose destruction, before
// the rest of the object goes, does that.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

class CModule;
class CVixn;

namespace kiru::sim {
class SimModule;
}

class CVixnEle {
public:
    CVixnEle() = default;
    template <class T, std::enable_if_t<std::is_arithmetic_v<T>, int> = 0>
    CVixnEle(T value) : m_value(static_cast<long long>(value)) {}
    // A variable of a script.
    explicit CVixnEle(CVixn* script, long long value = 0) : m_value(value), m_script(script) {}
    CVixnEle(const CVixnEle& other) : m_value(other.m_value.load()) {}
    ~CVixnEle();

    CVixnEle& operator=(const CVixnEle& other);
    CVixnEle& operator+=(const CVixnEle& other);
    CVixnEle& operator-=(const CVixnEle& other);
    CVixnEle& operator|=(const CVixnEle& other);
    CVixnEle& operator&=(const CVixnEle& other);
    CVixnEle& operator++();
    CVixnEle operator++(int);

    friend CVixnEle operator+(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() + b.Value()); }
    friend CVixnEle operator-(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() - b.Value()); }
    friend CVixnEle operator|(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() | b.Value()); }
    friend CVixnEle operator&(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() & b.Value()); }
    friend CVixnEle operator<(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() < b.Value()); }
    friend CVixnEle operator>(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() > b.Value()); }
    friend CVixnEle operator==(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() == b.Value()); }
    friend CVixnEle operator!=(const CVixnEle& a, const CVixnEle& b) { return CVixnEle(a.Value() != b.Value()); }
    CVixnEle operator~() const { return CVixnEle(~Value()); }

    // The variable's current value, read from the host.
    double GetBaseVal() const { return static_cast<double>(m_value.load()); }
    long long Value() const { return m_value.load(); }

private:
    void Assign(long long value);
    std::atomic<long long> m_value{0};
    CVixn* m_script = nullptr;
};

class CVixn : public CIobject {
public:
    // module: the board the script runs on; timeBase: the board's script
    // clock in ticks per second (steps run on tick boundaries); priority is kept.
    CVixn(CModule* module, double timeBase, ULONG priority);
    ~CVixn() override;

    // Starts the script: the body runs on the board's clock thread. 0 when
    // the script was started before or its board is gone.
    int Create();

    // Board register access inside the script (module VIXN_OWN_MODULE:
    // the script's own board, the only one a script reaches).
    CVixnEle ReadReg(ULONG reg, ULONG module);
    void WriteReg(ULONG reg, const CVixnEle& value, ULONG module);
    // The board's microsecond clock.
    CVixnEle ReadTimeMicro();

    void VixnIfThen(const CVixnEle& condition);
    void VixnElseDo();
    void VixnEndif();

    // Runs step at `time` microseconds after the body started.
    template <class T>
    void Schedule(void (T::*step)(), const CVixnEle& time) {
        static_assert(std::is_base_of_v<CVixn, T>, "steps are members of the script class");
        ScheduleStep([this, step] { (static_cast<T*>(this)->*step)(); }, time.Value());
    }

    // Board time (ReadTimeMicro) at which the body started; step times count from it.
    long long StartMicro() const { return m_startUs.load(); }
    double TimeBase() const { return m_timeBase; }
    ULONG Priority() const { return m_priority; }

protected:
    // The script body.
    virtual void Body() = 0;

private:
    friend class CVixnEle;
    CVixn(const CVixn&) = delete;
    CVixn& operator=(const CVixn&) = delete;

    // True when statements take effect at this point of the running script.
    static bool Active();
    void Quiesce();
    void ScheduleStep(std::function<void()> step, long long timeUs);
    void RunStep(const std::function<void()>& step);

    struct Branch {
        bool parentActive;
        bool condition;
        bool inElse;
    };

    std::shared_ptr<kiru::sim::SimModule> m_board;
    double m_timeBase;
    ULONG m_priority;
    std::uint64_t m_owner;
    std::atomic<std::int64_t> m_startUs{0};
    std::atomic<bool> m_created{false};
    std::atomic<bool> m_dead{false};
    std::vector<Branch> m_branches;  // only touched on the board's clock thread
};
