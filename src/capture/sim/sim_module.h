// The simulated hardware of one station module: its ports, register file,
// interrupt registrations, decision queues, pulse generators, PLC data and
// its camera or I/O channels. One mutex per module guards all of it; the
// contract classes and the simulation API lock it, change the state and
// trace the call.
#pragma once

#include <kiru/win_types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "capture/orv_types.h"
#include "capture/sim/frame_source.h"
#include "capture/sim/station_desc.h"
#include "capture/sim/worker.h"

namespace kiru::gev {
class Device;
}

namespace kiru::sim {

class SimGrab;
class SimModule;

// Decisions queued on a controller channel (or on a board). Each decision is
// released on the controller's own clock, delayUs after it was queued.
struct DecisionQueue {
    bool started = false;
    std::deque<ULONG> pending;
    std::vector<ULONG> released;
    std::uint64_t generation = 0;
    ULONG windowStart = 0;
    ULONG windowWidth = 0;
};

// A device-side interrupt object: an event signalled each time its event fires.
struct InterruptObject {
    ULONG event;
    HANDLE handle;
};

struct SimChannel {
    SimModule* module = nullptr;
    ULONG number = 0;
    ChannelDesc desc;
    bool reachable = true;

    std::map<std::pair<ULONG, ULONG>, double> values;  // current parameter values
    std::map<ULONG, std::pair<double, double>> caps;
    std::map<ULONG, std::string> texts;
    std::vector<std::map<ULONG, std::string>::node_type> retiredTexts;  // keep handed-out text addresses valid
    std::map<ULONG, ULONG> regs;
    bool aoiSet = false;
    ULONG aoiX = 0, aoiY = 0, aoiW = 0, aoiH = 0;
    std::array<unsigned char, 256> lut{};
    std::vector<unsigned char> calibration;
    std::string rule;  // camera-file name (ApplyCameraRule)
    ULONG channelState = 1;
    ULONG applyParamsCount = 0;
    std::int64_t clockOffsetUs = 0;
    DecisionQueue decisions;
    std::vector<InterruptObject> interrupts;
    std::vector<std::shared_ptr<SimGrab>> grabs;
    std::shared_ptr<const Image> image;
    ULONG framesMade = 0;  // frames the camera has made (lost ones included)
    bool outageDone = false;

    bool Supported(ULONG param) const;
    bool HasValue(ULONG param, ULONG index) const;
    double Value(ULONG param, ULONG index, double fallback = 0.0) const;
    // The value the camera keeps for a requested one: limited to its caps.
    double Limit(ULONG param, double value) const;
    // Text parameter: its address as a double, or 0 when there is no text.
    double TextAddress(ULONG param) const;
    void SetText(ULONG param, const std::string& text);

    ORV_CAM_ATTR Attributes() const;
    FrameGeometry Geometry() const;

    // Brightness and mosaic of the camera's scene: exposure (0x4000)
    // relative to the reference, gains 77 to 79, Bayer layout code 74.
    SceneRendering Rendering() const;

    // An I/O controller channel ("TRX", "RCS", "USB"): the GigE cameras its
    // trigger output reaches, and the event it raises when it triggers
    // (false when it raises none).
    std::vector<ULONG> TriggeredCameras() const;
    bool ExposureEvent(ULONG* event) const;

    enum class TriggerMode { FreeRunning, Software, Hardware };
    TriggerMode Mode() const;
    double FrameRate() const;
    bool CanGrab() const;

    // Under the module mutex: a software or hardware trigger for every grab
    // whose camera is in that trigger mode; returns whether one was taken.
    bool Trigger(TriggerMode mode);
    // Under the module mutex: wake the grabs after a change of trigger
    // programming, frame rate or reachability.
    void KickGrabs();
    void SignalInterrupts(ULONG event);
    // Under the module mutex, after each frame the camera makes: starts the
    // station's outage once its frame count is reached.
    void AfterFrame();
};

struct PulseGen {
    ULONG line, duration, level, timeRef, offset;
};

// A pulse the controller fired on an output line.
struct PulseRecord {
    ULONG line;
    ULONG level;
    std::int64_t startUs;
    double durationUs;
};

// A write of a board register (module parameter or board script), with the
// time on the library clock: the edges of the board's outputs.
struct RegisterWrite {
    ULONG reg;
    ULONG value;
    std::int64_t timeUs;
};

struct IntrRegistration {
    std::uint64_t id;
    ULONG event;
    ORX_INTR_FUNC fn;
    void* context;
    void* object;  // the CIntrCallback handed out
};

// PLC registrations remember the module object that made them: deleting
// that object removes them.
struct DataInWatch {
    std::uint64_t id;
    ULONG offset, size, mode;
    RCS_DATAIN_FUNC fn;
    void* context;
    const void* owner;
};

struct CamTrigger {
    ULONG offset;
    int bit;
    ULONG camera;
    const void* owner;
};

struct PlcState {
    static constexpr std::size_t kAreaSize = 4096;
    PlcDesc desc;
    std::vector<unsigned char> in = std::vector<unsigned char>(kAreaSize);
    std::vector<unsigned char> out = std::vector<unsigned char>(kAreaSize);
    std::vector<std::unique_ptr<DataInWatch>> watches;
    std::vector<std::unique_ptr<CamTrigger>> camTriggers;
};

class SimModule {
public:
    explicit SimModule(const ModuleDesc& desc);
    ~SimModule();
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

    // "NAME:INDEX" and "NAME:INDEX/CHANNEL" for trace lines.
    std::string Tag() const;
    std::string ChannelTag(ULONG channel) const;

    // Stops every grab and the module's threads. Not under the mutex.
    void Shutdown();

    // Stops one grab (waits for its producer); not under the mutex.
    void StopGrab(const std::shared_ptr<SimGrab>& grab);
    std::shared_ptr<SimGrab> FindGrab(HGRAB handle);

    // Under the mutex: queue every interrupt callback registered for event.
    void FireEventLocked(ULONG event);
    // Under the mutex: a new value of input port `port`. Raises the events
    // of the lines whose level changed (bits in ascending order) and then the
    // solution event; adds to `triggerCameras` the cameras wired to the
    // controller channels whose trigger input rose.
    void SetInputLocked(ULONG port, ULONG value, std::vector<ULONG>* triggerCameras);
    // Under the mutex: remembers a board register write with its time (the
    // oldest half is dropped when the record is full).
    void RecordRegisterWriteLocked(ULONG reg, ULONG value);
    // Under the mutex: queues a decision, released on the board clock delayUs
    // later ("DecisionReleased" in the trace); dropped at once when the queue
    // is stopped ("DecisionDropped").
    void EnqueueDecisionLocked(DecisionQueue& queue, const std::string& tag, ULONG decision, std::int64_t delayUs);
    // Under the mutex: starts or stops a queue; either way the decisions still
    // pending are dropped.
    void RestartDecisionsLocked(DecisionQueue& queue, const std::string& tag, bool started);

    std::mutex mutex;
    const std::string name;
    const ULONG index;
    // A "GEV" slot served by a real camera: its id, and the camera while a
    // module object holds it open (under the mutex).
    const std::string deviceId;
    std::weak_ptr<kiru::gev::Device> device;
    ULONG moduleInfo = 0;
    std::map<ULONG, ULONG> info;
    std::map<ULONG, ULONG> params;  // register file: module parameters and board-script registers
    std::map<ULONG, ULONG> inputs;
    InputEventMap inputEvents;  // what input edges raise
    std::map<ULONG, ULONG> outputs;
    std::map<ULONG, std::vector<unsigned char>> regBlocks;
    std::vector<std::unique_ptr<SimChannel>> channels;
    std::vector<std::unique_ptr<ORV_CAMERA_RULE>> rules;
    std::string configFile;
    ULONG moduleMode[2] = {0, 0};
    ULONG ioConfig[3] = {0, 0, 0};
    ULONG ioEnable[2] = {0, 0};
    ULONG syncMode[3] = {0, 0, 0};
    long attachedChannel = -1;
    std::map<std::string, std::string> features;  // GenICam features of a GigE module
    std::map<std::string, std::vector<std::map<std::pair<ULONG, ULONG>, double>>> userSets;
    DecisionQueue boardDecisions;                  // the board's own queue (QbmAdvancedIO*)
    std::map<OrvPulseGenTag*, std::unique_ptr<PulseGen>> pulseGens;
    std::vector<PulseRecord> pulses;
    std::vector<RegisterWrite> registerWrites;
    PlcState plc;
    std::vector<IntrRegistration> callbacks;

    // Module objects (OrxCreateCaptureModule) that hold this module open.
    std::atomic<int> openObjects{0};

    Worker clock;       // board clock: scripts, decision releases, pulse generators
    Worker interrupts;  // interrupt callbacks and PLC change callbacks

private:
    std::atomic<bool> m_shutDown{false};
};

// True for the I/O controllers whose channels trigger GigE cameras.
bool IsTriggerController(const std::string& moduleName);

// A trigger pulse at a controller channel's output: each listed "GEV"
// camera in hardware-trigger mode takes one frame. Called under no module
// mutex. True when a grab took it.
bool TriggerCameras(const std::vector<ULONG>& cameras);

// Drops a reference to a module. The last reference must not go on one of
// the module's own threads (it would join itself): there it is parked and
// dropped by the next ReleaseParkedModules on another thread.
void ReleaseModule(std::shared_ptr<SimModule>& module);
void ReleaseParkedModules();

}  // namespace kiru::sim
