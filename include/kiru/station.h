// kiru::sim::Station: the simulated station behind the library's capture
// layer. Integration tests and tools use it to load a station (a small INI
// description of capture modules, cameras and I/O controllers), read the
// trace of what the library sent to the hardware, and act as the hardware:
// fire triggers and events, change inputs, lose a camera. The grab objects
// never use it; they see the station only through the capture layer.
//
// Modules are named by module name and index ("GEV", 0), channels by their
// number. Operations on a module or channel that the station does not have
// return false (or an empty value).
#pragma once

#include <kiru/export.h>
#include <kiru/win_types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kiru::sim {

struct PulseInfo {
    ULONG line;
    ULONG level;
    std::int64_t startUs;  // library clock
    double durationUs;
};

// A write of a board register, timed on the library clock.
struct RegisterWriteInfo {
    ULONG reg;
    ULONG value;
    std::int64_t timeUs;
};

struct DisplayInfo {
    ULONG paints = 0;  // Display calls on connections of the window
    ULONG width = 0, height = 0, bitsPerPixel = 0, colorFormat = 0;
    std::vector<unsigned char> pixels;  // the image of the last paint
};

class KIRU_API Station {
public:
    // Replaces the station with the one described by a file or a text. On a
    // bad line nothing is loaded, the previous station stays and error reads
    // "FILE:LINE: reason". Loading (like Reset) ends the previous station's
    // activity for modules nobody holds open and clears the trace.
    static bool LoadFile(const std::string& path, std::string* error);
    static bool LoadText(const std::string& text, const std::string& sourceName, std::string* error);
    // An empty station: no module is listed or opens. Entry points are all present again.
    static void Reset();
    // Source name of the loaded station ("" when empty).
    static std::string Source();

    // The trace: one line per call that changed simulated hardware.
    static std::vector<std::string> Trace();
    static void ClearTrace();
    // Also append trace lines to this file (empty: memory only). KIRU_TRACE
    // sets it at first use.
    static void SetTraceFile(const std::string& path);

    // ---- acting as the hardware ----
    // Sets input port `port` of a module. Each input line (a bit of a port)
    // whose level changed raises the event the module maps its edge to, a
    // rising trigger input of a controller also fires that channel's trigger
    // output, and a change of the solution-select lines raises the module's
    // solution event (docs/station.md lists the mappings).
    static bool SetInput(const std::string& module, ULONG index, ULONG port, ULONG value);
    // Raises a numbered event: every interrupt callback registered for it runs
    // on the module's interrupt thread, and camera interrupt objects for it are signalled.
    static bool FireEvent(const std::string& module, ULONG index, ULONG event);
    // A trigger pulse on the camera's hardware trigger line: one frame when
    // the camera is in hardware-trigger mode. On a channel of an I/O
    // controller ("TRX", "RCS", "USB") the pulse is the controller's trigger
    // input: the channel raises its exposure event and passes the pulse on
    // to the GigE cameras wired to it. True when a grab took it.
    static bool HardwareTrigger(const std::string& module, ULONG index, ULONG channel = 0);
    // A camera that stops answering: register 0x0A00 reads 0, parameters
    // fail, no frames arrive, and a "GEV" module cannot be opened.
    static bool SetReachable(const std::string& module, ULONG index, ULONG channel, bool reachable);
    // Shifts the arrival times the camera reports (microseconds).
    static bool SetClockOffset(const std::string& module, ULONG index, ULONG channel, std::int64_t offsetUs);
    // Writes PLC input data of an "RCS" module; change callbacks and camera
    // triggers fire for what changed.
    static bool SetPlcInputs(const std::string& module, ULONG index, ULONG offset, const void* data, ULONG size);
    // Hardware-side writes of a parameter or register (no trace).
    static bool SetParam(const std::string& module, ULONG index, ULONG channel, ULONG number, double value,
                         ULONG sub = 0);
    static bool SetModuleParam(const std::string& module, ULONG index, ULONG number, ULONG value);
    static bool SetRegister(const std::string& module, ULONG index, ULONG channel, ULONG address, ULONG value);

    // ---- looking at the hardware ----
    static bool HasModule(const std::string& module, ULONG index);
    static bool GetOutput(const std::string& module, ULONG index, ULONG port, ULONG* value);
    static bool GetModuleParam(const std::string& module, ULONG index, ULONG number, ULONG* value);
    static bool GetParam(const std::string& module, ULONG index, ULONG channel, ULONG number, double* value,
                         ULONG sub = 0);
    static bool GetText(const std::string& module, ULONG index, ULONG channel, ULONG number, std::string* text);
    static bool GetRegister(const std::string& module, ULONG index, ULONG channel, ULONG address, ULONG* value);
    static bool GetModuleReg(const std::string& module, ULONG index, ULONG reg, ULONG offset, ULONG size,
                             ULONG* value);
    static bool GetLut(const std::string& module, ULONG index, ULONG channel, std::vector<unsigned char>* lut);
    static bool GetCalibration(const std::string& module, ULONG index, ULONG channel,
                               std::vector<unsigned char>* table);
    // GenICam feature of a "GEV" module as its text ("" when never set).
    static std::string Feature(const std::string& module, ULONG index, const std::string& feature);
    // Decisions still queued / already released on a channel's queue;
    // channel -1 names the board's own queue (QbmAdvancedIO*).
    static std::vector<ULONG> PendingDecisions(const std::string& module, ULONG index, long channel);
    static std::vector<ULONG> ReleasedDecisions(const std::string& module, ULONG index, long channel);
    static std::vector<PulseInfo> Pulses(const std::string& module, ULONG index);
    // Board register writes (SetModuleParam and board scripts) since the
    // station was loaded, oldest first; the record keeps the latest 65536.
    static std::vector<RegisterWriteInfo> RegisterWrites(const std::string& module, ULONG index);
    static bool GetPlcOutputs(const std::string& module, ULONG index, ULONG offset, void* data, ULONG size);
    // Registrations alive on a module (-1 when the station has no such
    // module): interrupt callbacks (CreateIntrCallback), PLC data-in change
    // callbacks and PLC camera triggers.
    static int InterruptCallbackCount(const std::string& module, ULONG index);
    static int DataInCallbackCount(const std::string& module, ULONG index);
    static int CamTriggerCount(const std::string& module, ULONG index);
    // Number of grabs running on the camera.
    static ULONG ActiveGrabs(const std::string& module, ULONG index, ULONG channel);
    // Module objects (OrxCreateCaptureModule, not yet deleted) that hold
    // the module open: 0 when nobody has it open.
    static int OpenModuleCount(const std::string& module, ULONG index);
    // Configuration file the module was last opened with.
    static std::string ConfigFile(const std::string& module, ULONG index);
    static DisplayInfo Display(HWND window);

    // ---- the library's run-time entry points ----
    // Makes an entry point of "orv21.dll" absent (GetProcAddress yields null)
    // or present again. name: "OrxGigeOpen", "OrxGigeClose",
    // "QbmAdvancedIOStart", "QbmAdvancedIOStop", "QbmAdvancedIOEnqueueDecision".
    static void SetEntryPointPresent(const std::string& name, bool present);
    static int GigeOpenCount();
    static int GigeCloseCount();
};

}  // namespace kiru::sim
