// A grab object for tests: the common layer with the few steps a back-end
// adds (it sets the initialized, created and running flags after the common
// operation succeeded) and a log of the hardware-facing calls the common
// layer makes on it (Create, Start, Stop, SetOutputPort, ToggleLed,
// SetTriggerParams). The log is filled from any thread (client, heartbeat,
// scheduler); tests wait on it with WaitUntil from poll.h.
#pragma once

#include <kiru/kiru.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "support/poll.h"

namespace kiru_test {

constexpr ULONG kKeep = 0xFFFFFFFEu;     // geometry argument: keep the current value
constexpr ULONG kDefault = 0xFFFFFFFFu;  // geometry argument: take the default
constexpr ULONG kNoBound = 0xFFFFFFFDu;  // AjustValue bound: none

struct GrabCall {
    std::string op;
    std::vector<ULONG> args;  // the call's arguments, in order
    double atMs;              // scheduler clock when the call began
    DWORD thread;             // GetCurrentThreadId of the calling thread
};

// Thread-safe record of calls.
class CallLog {
public:
    // atMs: when the call began, for calls logged only once they are done.
    void Record(std::string op, std::vector<ULONG> args, double atMs = NowMs()) {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(GrabCall{std::move(op), std::move(args), atMs, ::GetCurrentThreadId()});
    }

    // All calls, or those of one operation, in order.
    std::vector<GrabCall> Calls(const std::string& op = "") const {
        std::vector<GrabCall> out;
        std::lock_guard<std::mutex> lock(mutex_);
        for (const GrabCall& c : calls_)
            if (op.empty() || c.op == op) out.push_back(c);
        return out;
    }

    std::size_t Count(const std::string& op) const { return Calls(op).size(); }

    // The operation names in call order, e.g. {"Stop", "Create", "Start"}.
    std::vector<std::string> Ops() const {
        std::vector<std::string> out;
        for (const GrabCall& c : Calls()) out.push_back(c.op);
        return out;
    }

    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<GrabCall> calls_;
};

// The common layer as a back-end would use it.
class TestGrab : public CIGrab {
public:
    explicit TestGrab(IFW_IGRABTYPE type = IGRAB_COMMON) : type_(type) {}
    // Back-ends terminate before the common destructor runs, so that no
    // thread calls into an object whose overrides are already gone.
    ~TestGrab() override { Terminate(); }

    CallLog log;

    // Initialized and created with the default geometry, and started if asked.
    bool Ready(bool start = false) {
        return Initialize() == 1 && Create(0, 0, 640, 480, 8, 5, 5000) == 1 && (!start || Start() == 1);
    }
    const char* LastError() const { return m_lastError; }
    // Sets a recognisable last-error text, for checking that a call leaves it alone.
    std::string PlantError() {
        std::snprintf(m_lastError, sizeof m_lastError, "planted");
        return m_lastError;
    }

    // Behaviour switches.
    std::atomic<bool> markInitialized{true};  // Initialize sets the flag, as a ready back-end does
    std::atomic<bool> failCreate{false};      // the back-end's own Create step fails
    std::atomic<ULONG> inputBits{0};          // what GetGPInputValue reports
    unsigned char* externalRing = nullptr;    // returned by AllocateNonPagedMem when set

    IFW_IGRABTYPE GetGrabType() override { return type_; }

    int Initialize() override {
        if (!CIGrab::Initialize()) return 0;
        if (markInitialized) m_initialized = 1;
        return 1;
    }

    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits, ULONG count,
               ULONG timeout) override {
        log.Record("Create", {offsetX, offsetY, width, height, bits, count, timeout});
        if (!CIGrab::Create(offsetX, offsetY, width, height, bits, count, timeout)) return 0;
        if (failCreate) {
            CIGrab::Destroy();
            return 0;
        }
        m_created = 1;
        return 1;
    }

    int Start() override {
        log.Record("Start", {});
        m_running = CIGrab::Start();
        return m_running;
    }

    int Stop() override {
        log.Record("Stop", {});
        return CIGrab::Stop();
    }

    // Logged once the port image has changed, so that a test that sees the
    // call sees the new value; the time logged is when the call began.
    int SetOutputPort(UINT port, int value) override {
        const double at = NowMs();
        const int result = CIGrab::SetOutputPort(port, value);
        log.Record("SetOutputPort", {port, static_cast<ULONG>(value)}, at);
        return result;
    }

    int ToggleLed(ULONG led) override {
        log.Record("ToggleLed", {led});
        return CIGrab::ToggleLed(led);
    }

    int SetTriggerParams() override {
        log.Record("SetTriggerParams", {});
        return CIGrab::SetTriggerParams();
    }

    UINT GetGPInputValue(int input) override {
        CIGrab::GetGPInputValue(input);
        return inputBits;
    }

    unsigned char* AllocateNonPagedMem(ULONG) override { return externalRing; }

    // State a back-end sets.
    using CIGrab::m_rotation, CIGrab::m_acqThreadId, CIGrab::m_rejectorEnabled, CIGrab::m_recyclerEnabled,
        CIGrab::m_cameraDetected;
    // Frame i of the ring as a back-end delivering from it sees it.
    unsigned char* FrameAddress(ULONG i) const { return m_imageArray ? m_imageArray[i] : nullptr; }

    // Deliveries as a back-end makes them: each goes out only when its
    // callback counts as registered. They return whether it went out.
    bool DeliverBuffer(unsigned char* image, unsigned int frame) {
        if (!BufferCallbackRegistered()) return false;
        m_bufferCallback(image, frame, 0, m_bufferContext);
        return true;
    }
    bool DeliverBufferEx(IFW_GRAB_BUF_DESC* desc, unsigned int frame) {
        if (!BufferExCallbackRegistered()) return false;
        m_bufferExCallback(desc, frame, 0, m_bufferExContext);
        return true;
    }
    bool DeliverTrash(unsigned char* image, unsigned int frame) {
        if (!TrashCallbackRegistered()) return false;
        m_trashCallback(image, frame, 0, m_trashContext);
        return true;
    }
    bool DeliverChangeSolution(unsigned int solution) {
        if (m_changeSolutionCallback == nullptr) return false;
        m_changeSolutionCallback(nullptr, solution, 0, m_changeSolutionContext);
        return true;
    }

    // Holds the scheduler's list lock, so that several events can be queued
    // before the scheduler thread looks at any of them.
    void HoldScheduler() { ::WaitForSingleObject(m_schedulerMutex, INFINITE); }
    void ReleaseScheduler() { ::ReleaseMutex(m_schedulerMutex); }

private:
    IFW_IGRABTYPE type_;
};

// A client class deriving from the interface directly, with the same
// back-end steps, to reach IXGrab's own implementations.
class TestIXGrab : public IXGrab {
public:
    explicit TestIXGrab(IFW_IGRABTYPE type = IGRAB_COMMON) : type_(type) {}
    ~TestIXGrab() override { Terminate(); }

    IFW_IGRABTYPE GetGrabType() override { return type_; }

    int Initialize() override {
        if (!IXGrab::Initialize()) return 0;
        m_initialized = 1;
        return 1;
    }

    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits, ULONG count,
               ULONG timeout) override {
        m_created = IXGrab::Create(offsetX, offsetY, width, height, bits, count, timeout);
        return m_created;
    }

    const char* LastError() const { return m_lastError; }
    using IXGrab::m_ringSize, IXGrab::m_created, IXGrab::m_ioRunning, IXGrab::m_rejectorEnabled;
    unsigned char* FrameAddress(ULONG i) const { return m_imageArray ? m_imageArray[i] : nullptr; }

private:
    IFW_IGRABTYPE type_;
};

}  // namespace kiru_test
