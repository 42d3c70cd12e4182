// CIGrabQB2: the back-end for the QB2 vision appliance: one camera behind
// the appliance's "QBM" capture module, the appliance's inputs (four general
// inputs, three solution-select inputs, a trigger), four general outputs
// timed by board scripts, and a decision-output block driven by the capture
// library's advanced-I/O queue, whose entry points are looked up by name at
// run time (without them no decision is queued). The queue is started by the
// first acquisition of the process, after the camera has settled.
#pragma once

#include <kiru/cigrab.h>

#include <atomic>

class CICapMod;
class CICamera;
class CIntrCallback;
class CORVOS;
class CImgConn;
class CQB2PulseTimer;
struct OrvGrabTag;

class KIRU_API CIGrabQB2 : public CIGrab {
public:
    static constexpr int kPulseSlots = 8;
    typedef int (*AdvancedIoFn)(CICapMod* module);
    typedef int (*EnqueueFn)(CICapMod* module, ULONG decision);

    CIGrabQB2();
    ~CIGrabQB2() override;
    CIGrabQB2(const CIGrabQB2&) = delete;
    CIGrabQB2& operator=(const CIGrabQB2&) = delete;

    IFW_IGRABTYPE GetGrabType() override;

    // ---- Lifecycle ------------------------------------------------------------
    int Initialize() override;
    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
               ULONG timeout) override;
    int Start() override;
    int Stop() override;
    int Terminate() override;
    int Destroy() override;

    // ---- Acquisition and views ----------------------------------------------------
    void GenerateManualTrigger(int camera) override;
    int GenerateSoftTrigger(int camera) override;
    int SetActiveCamera(int camera, int unused) override;
    int SetImageColor(IFW_IMAGE_COLOR_TYPE type) override;
    int SetTiling(ULONG across, ULONG down) override;
    int GetNumCameras() override;
    int Display(HWND window, unsigned char* image) override;

    // ---- Camera settings ------------------------------------------------------------
    int SetContrast(UINT value) override;
    int SetBrightness(UINT value) override;
    int SetExposure(double ms, int camera) override;
    int SetFrameDelay(UINT delay) override;
    int SetExternalTriggerDelay(UINT delay) override;
    int SetStrobeOffset(UINT offset) override;
    int SetStrobeDuration(UINT duration) override;
    void SetStrobeEnable(int enable) override;
    int SetTriggerParams() override;
    int SetLUTFloor(UINT value) override;
    int SetLUTCeiling(UINT value) override;
    int LinearizeLUT() override;
    int InvLinearizeLUT() override;
    int WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) override;

    // ---- I/O --------------------------------------------------------------------------
    int GetGpioAttr(IFW_GPIO_ATTR* attr) override;
    UINT GetGPInputValue(int all) override;
    ULONG GetInputChangeNames(char* names) override;
    void* CreateInputActiveCallback(UINT index, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) override;
    void DeleteInputActiveCallback(void* node) override;
    void SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) override;
    void SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) override;
    int SetOutputPort(UINT port, int value) override;
    void SetAcqReady(int ready) override;
    int GeneratePulseOutPort(UINT port, int level, double offsetMs, double durationMs) override;
    int ToggleLed(ULONG led) override;

    // ---- Decisions ----------------------------------------------------------------------
    int SetPass(ULONG camera) override;
    int SetFail(ULONG camera) override;
    int SetRecycle(ULONG camera) override;
    int SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) override;
    int SetDummyDecisionFIFO(UINT count, UINT every) override;
    int SetRejectorDelay(UINT delay) override;
    int SetRecycleDelay(UINT delay) override;
    int SetRejectorPulseControl() override;
    int SetPartsBetweenSensors(UINT parts) override;
    UINT GetPartsBetweenSensors() override;

    // ---- Serial ports -----------------------------------------------------------------
    int GetCommPortNum(int port, IFW_COMPORT_KIND kind) override;

    // ---- Non-virtual members ------------------------------------------------------------
    DWORD AcqThread();
    void CloseGrabThread();
    void ChangeSolutionInterrupt();
    // The selected solution: register 37's solution lines in the board's order.
    UINT ReadSolutionNum();

protected:
    struct InputActiveNode {
        UINT index;
        IFW_INPUT_ACTIVE_CALLBACK fn;
        void* context;
        CIntrCallback* callback;
        InputActiveNode* next;
    };

    void SetParam(ULONG number, double value);
    double GetParam(ULONG number);
    void ApplyAoi();
    bool Pause();  // stops a running grab; returns whether it ran
    void Resume(bool wasRunning);
    bool OnAcquisitionThread() const;
    // Queues the decision code and pulses the lines driven by `pulsed`.
    int Decide(ULONG code, IFW_GPO_DRIVER pulsed);
    static DWORD AcqThreadMain(void* self);
    static void ChangeSolutionThunk(void* self);

    // Fields, in the order of the board's description.
    ULONG m_camAttrWords[27] = {};  // the camera's attribute record
    std::atomic<OrvGrabTag*> m_grab{nullptr};
    CORVOS* m_os = nullptr;
    CICapMod* m_module = nullptr;
    CICamera* m_camera = nullptr;
    CImgConn* m_display = nullptr;
    TriggerMethod m_appliedTriggerMethod;
    ULONG m_decisionOutputType[3] = {1, 2, 0};
    CIntrCallback* m_solutionCallback = nullptr;
    HANDLE m_acqReadyEvent = nullptr;
    UINT m_qb2PartsBetweenSensors = 0;
    CQB2PulseTimer* m_pulseTimers[kPulseSlots] = {};
    AdvancedIoFn m_ioStart = nullptr;
    AdvancedIoFn m_ioStop = nullptr;
    EnqueueFn m_ioEnqueue = nullptr;
    HMODULE m_library = nullptr;
    std::atomic<int> m_threadRun{0};
    InputActiveNode* m_inputNodes = nullptr;

    HANDLE m_acqThread = nullptr;
    std::atomic<ULONG> m_acqThreadIdSeen{0};
    std::atomic<int> m_delivering{0};  // the running flag as the acquisition thread sees it
    int m_rejectorEnabledCopy = 0;     // refreshed by SetTriggerParams, cleared when the grab closes
    std::atomic<int> m_ledState[2] = {0, 0};
    UINT m_dummyDecisions = 0;
};
