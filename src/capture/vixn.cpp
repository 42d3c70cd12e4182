// The board scripting engine. A script's body and steps run on its board's
// clock thread; statements are executed as they are reached, and the
// innermost open VixnIfThen/VixnElseDo branch decides whether they take
// effect.
#include "capture/vixn.h"

#include <cmath>

#include "capture/module.h"
#include "capture/orv_types.h"
#include "capture/sim/sim_clock.h"
#include "capture/sim/sim_module.h"
#include "capture/sim/trace.h"

namespace {
// The script whose body or step runs on this thread, if any.
thread_local CVixn* t_running = nullptr;
}  // namespace

// ---- CVixnEle ----------------------------------------------------------

CVixnEle::~CVixnEle() {
    // The first bound variable to go stops its script before the rest of the
    // script object is destroyed.
    if (m_script) m_script->Quiesce();
}

void CVixnEle::Assign(long long value) {
    if (CVixn::Active()) m_value.store(value);
}

CVixnEle& CVixnEle::operator=(const CVixnEle& other) {
    Assign(other.Value());
    return *this;
}

CVixnEle& CVixnEle::operator+=(const CVixnEle& other) {
    Assign(Value() + other.Value());
    return *this;
}

CVixnEle& CVixnEle::operator-=(const CVixnEle& other) {
    Assign(Value() - other.Value());
    return *this;
}

CVixnEle& CVixnEle::operator|=(const CVixnEle& other) {
    Assign(Value() | other.Value());
    return *this;
}

CVixnEle& CVixnEle::operator&=(const CVixnEle& other) {
    Assign(Value() & other.Value());
    return *this;
}

CVixnEle& CVixnEle::operator++() {
    Assign(Value() + 1);
    return *this;
}

CVixnEle CVixnEle::operator++(int) {
    CVixnEle old(Value());
    Assign(Value() + 1);
    return old;
}

// ---- CVixn -------------------------------------------------------------

CVixn::CVixn(CModule* module, double timeBase, ULONG priority)
    : m_board(module ? module->Sim() : nullptr),
      m_timeBase(timeBase),
      m_priority(priority),
      m_owner(kiru::sim::NewOwnerId()) {}

CVixn::~CVixn() {
    Quiesce();
    kiru::sim::ReleaseModule(m_board);
}

void CVixn::Quiesce() {
    m_dead = true;
    if (m_board) m_board->clock.Cancel(m_owner);
}

int CVixn::Create() {
    if (!m_board || m_dead || m_created.exchange(true)) return 0;
    const bool posted = m_board->clock.Post(m_owner, 0, [this] {
        m_startUs = kiru::sim::NowUs();
        RunStep([this] { Body(); });
    });
    return posted ? 1 : 0;
}

bool CVixn::Active() {
    const CVixn* s = t_running;
    if (!s || s->m_branches.empty()) return true;
    const Branch& b = s->m_branches.back();
    return b.parentActive && (b.inElse ? !b.condition : b.condition);
}

void CVixn::RunStep(const std::function<void()>& step) {
    CVixn* outer = t_running;
    t_running = this;
    m_branches.clear();
    step();
    m_branches.clear();
    t_running = outer;
}

void CVixn::VixnIfThen(const CVixnEle& condition) {
    const bool parent = Active();
    m_branches.push_back({parent, condition.Value() != 0, false});
}

void CVixn::VixnElseDo() {
    if (!m_branches.empty()) m_branches.back().inElse = true;
}

void CVixn::VixnEndif() {
    if (!m_branches.empty()) m_branches.pop_back();
}

CVixnEle CVixn::ReadReg(ULONG reg, ULONG module) {
    if (!m_board || module != VIXN_OWN_MODULE) return CVixnEle(0);
    std::lock_guard<std::mutex> lock(m_board->mutex);
    auto it = m_board->params.find(reg);
    return CVixnEle(it == m_board->params.end() ? 0 : static_cast<long long>(it->second));
}

void CVixn::WriteReg(ULONG reg, const CVixnEle& value, ULONG module) {
    if (!m_board || module != VIXN_OWN_MODULE || !Active()) return;
    const ULONG v = static_cast<ULONG>(value.Value());
    std::lock_guard<std::mutex> lock(m_board->mutex);
    m_board->params[reg] = v;
    m_board->RecordRegisterWriteLocked(reg, v);
    (kiru::sim::TraceLine(m_board->Tag(), "VixnWriteReg") << reg << v).Commit();
    // When the write happened on the board's clock, for checks of output timing.
    (kiru::sim::TraceLine(m_board->Tag(), "BoardWrite") << reg << v << kiru::sim::NowUs()).Commit();
}

CVixnEle CVixn::ReadTimeMicro() { return CVixnEle(kiru::sim::NowUs()); }

void CVixn::ScheduleStep(std::function<void()> step, long long timeUs) {
    if (!m_board || m_dead || !Active()) return;
    // Steps run on the board's tick.
    if (m_timeBase > 0.0 && timeUs > 0) {
        const double tick = 1e6 / m_timeBase;
        if (tick > 1.0) timeUs = static_cast<long long>(std::ceil(static_cast<double>(timeUs) / tick) * tick);
    }
    m_board->clock.Post(m_owner, m_startUs.load() + timeUs, [this, step = std::move(step)] { RunStep(step); });
}
