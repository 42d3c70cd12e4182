// CIGrabLX2: the back-end for the capture board of the LUXOR2 vision
// appliance. The board answers as capture module "LXP" (or "HVQ", a board
// without board-side rejector timing whose inputs are active low). One
// camera channel grabs into the frame ring on one acquisition thread; the
// board's station I/O (trigger and reject-sensor counters, solution select,
// decision outputs timed by board scripts, plain outputs, LEDs, serial
// ports) is reached through the same module. Camera, I/O and timing values
// reach the board as numbered acquisition parameters of the camera.
#pragma once

#include <kiru/cigrab.h>

#include <atomic>

class CICapMod;
class CICamera;
class CIntrCallback;
class CORVOS;
class CImgConn;
class CVixnPulseTimer;
struct OrvGrabTag;

class KIRU_API CIGrabLX2 : public CIGrab {
public:
    static constexpr int kPulseSlots = 8;

    CIGrabLX2();
    ~CIGrabLX2() override;
    CIGrabLX2(const CIGrabLX2&) = delete;
    CIGrabLX2& operator=(const CIGrabLX2&) = delete;

    IFW_IGRABTYPE GetGrabType() override;

    // ---- Lifecycle ------------------------------------------------------------
    int Initialize() override;
    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
               ULONG timeout) override;
    int Start() override;
    int Stop() override;
    int Terminate() override;

    // ---- Camera parameters ----------------------------------------------------
    int SetContrast(UINT value) override;
    int SetBrightness(UINT value) override;
    int SetExposure(double ms, int camera) override;
    int SetImageColor(IFW_IMAGE_COLOR_TYPE type) override;
    int SetFrameDelay(UINT delay) override;
    int SetStrobeOffset(UINT offset) override;
    int SetStrobeDuration(UINT duration) override;
    int SetActiveCamera(int camera, int reset) override;
    int SetTiling(ULONG horizontal, ULONG vertical) override;
    int GetNumCameras() override;
    void* GetFramePtr(int index) override;
    int Display(HWND window, unsigned char* image) override;

    // ---- Triggers and rejector timing -------------------------------------------
    int SetTriggerParams() override;
    int SetExternalTriggerDelay(UINT delay) override;
    int GenerateSoftTrigger(int camera) override;
    void GenerateManualTrigger(int camera) override;
    int SetRejectorDelay(UINT delay) override;
    int SetRecycleDelay(UINT delay) override;
    int SetRejectorPulseControl() override;

    // ---- Look-up table ----------------------------------------------------------
    int SetLUTFloor(UINT value) override;
    int SetLUTCeiling(UINT value) override;
    int LinearizeLUT() override;
    int InvLinearizeLUT() override;
    int WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) override;

    // ---- Station I/O ------------------------------------------------------------
    int SetPass(ULONG camera) override;
    int SetFail(ULONG camera) override;
    int SetRecycle(ULONG camera) override;
    int SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) override;
    int SetDummyDecisionFIFO(UINT count, UINT every) override;
    UINT GetPartsBetweenSensors() override;
    int SetPartsBetweenSensors(UINT parts) override;
    int SetOutputPort(UINT port, int value) override;
    void SetAcqReady(int ready) override;
    int ToggleLed(ULONG led) override;
    int GeneratePulseOutPort(UINT port, int count, double onTimeMs, double offTimeMs) override;
    UINT GetGPInputValue(int all) override;
    int GetGpioAttr(IFW_GPIO_ATTR* attr) override;
    ULONG GetInputChangeNames(char* names) override;
    void SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) override;
    void SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) override;
    void* CreateInputActiveCallback(UINT input, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) override;
    void DeleteInputActiveCallback(void* node) override;
    int SetActiveCommPort(int port) override;
    int GetCommPortNum(int port, IFW_COMPORT_KIND kind) override;

    // ---- Non-virtual members ------------------------------------------------------
    // The acquisition thread's body; returns 0.
    DWORD AcqThread();
    // Ends the library grab and joins the acquisition thread.
    void CloseGrabThread();
    // Event 21 (solution strobe): reads the solution and tells the client.
    void ChangeSolutionInterrupt();

protected:
    // One input-active registration.
    struct InputActiveNode {
        UINT index;
        IFW_INPUT_ACTIVE_CALLBACK fn;
        void* context;
        CIntrCallback* callback;
        InputActiveNode* next;
    };

    // True when the module is an "LXP" board (board-side rejector timing).
    bool IsLxp() const;
    // SetAcqParam (number, value, 0) on the camera; nothing without one.
    void SetParam(ULONG number, double value);
    double GetParam(ULONG number);
    // The sensor window: x, y, width and the lines per frame.
    void ApplyAoi();
    // Trigger mode parameter 10 (and the frame rate for free running) by
    // the trigger method.
    void ApplyTriggerMode();
    // Stops a running grab and ends the library grab; returns whether it ran.
    bool Pause();
    void Resume(bool wasRunning);
    // Drives output bit `line` of board register 91 (inverted boards too).
    void WriteOutputBit(UINT line, int value);
    bool OnAcquisitionThread() const;
    static DWORD AcqThreadMain(void* self);
    static void ChangeSolutionThunk(void* self);
    static void CounterAThunk(void* self);
    static void CounterBThunk(void* self);
    void ShowMessage(const char* caption, const char* text);

    std::atomic<OrvGrabTag*> m_grab{nullptr};
    CORVOS* m_os = nullptr;
    CICapMod* m_module = nullptr;
    CICamera* m_camera = nullptr;
    CImgConn* m_display = nullptr;
    TriggerMethod m_appliedTriggerMethod;
    CIntrCallback* m_solutionCallback = nullptr;
    CIntrCallback* m_counterACallback = nullptr;
    CIntrCallback* m_counterBCallback = nullptr;
    HANDLE m_acqReadyEvent = nullptr;
    HANDLE m_acqThread = nullptr;
    std::atomic<int> m_counterA{0};
    std::atomic<int> m_counterB{0};
    CVixnPulseTimer* m_pulseTimers[kPulseSlots] = {};
    int m_outputsInverted = 0;
    InputActiveNode* m_inputNodes = nullptr;
    std::atomic<int> m_loopRun{0};
    std::atomic<int> m_delivering{0};  // the running flag as the acquisition thread sees it
    std::atomic<ULONG> m_acqThreadIdSeen{0};
    std::atomic<unsigned char*> m_currentFrame{nullptr};
    double m_lastPulseWidth = -1.0;
    IFW_CAM_ATTR m_camAttr{};
    char m_cameraFile[88] = {};
    std::atomic<int> m_ledState[2] = {0, 0};  // the heartbeat toggles LED 1 too
    UINT m_dummyDecisions = 0;
};
