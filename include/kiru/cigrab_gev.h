// CIGrabGev: the back-end for GigE Vision cameras and the I/O controllers
// beside them. Up to eight cameras, each behind a "GEV" capture module, are
// found and opened by Initialize; the I/O controllers ("GIO" or "LXP",
// "TRX", "RCS", up to four "USB", "QBM") are opened by the constructor. One
// acquisition thread, created by the first Start, runs the asynchronous
// loop (each camera's frames delivered on their own through the buffer-ex
// callback) or the synchronous loop (one frame of every camera delivered
// together as one composite image through the buffer callback).
//
// Every camera parameter the back-end sets is kept in a per-camera store, so
// that a camera that stops answering and is reopened gets the same settings
// again; the client hears of a lost and a regained camera through the
// acquire-event callback (event 0 with the camera index, event 1 with 0).
#pragma once

#include <kiru/cigrab.h>

#include <memory>

// Capture library objects the back-end holds; their classes belong to the
// capture library.
class CICapMod;
class CICamera;
class CInterrupt;
class CIntrCallback;
class CORVOS;
class CImgConn;
class CRCS;
struct OrvGrabTag;
struct RCS_DATAIN_CB_RECORD;
struct OrvPulseGenTag;

class KIRU_API CIGrabGev : public CIGrab {
public:
    static constexpr int kMaxCameras = 8;
    static constexpr int kMaxUsbModules = 4;
    static constexpr int kParamSlots = 119;  // slots 0-95: parameters 0-95; 96-118: 0x4000-0x4016

    CIGrabGev();
    // Copying copies every field as a value (modules and handles are shared),
    // like the common layer.
    CIGrabGev(const CIGrabGev&) = default;
    CIGrabGev& operator=(const CIGrabGev&) = default;
    ~CIGrabGev() override;

    IFW_IGRABTYPE GetGrabType() override;

    // ---- Modules and bring-up ----------------------------------------------
    int Initialize() override;
    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
               ULONG timeout) override;
    int GetNumCameras() override;
    int GetNumAsyncCameras() override;
    int GetCameraDesc(int camera, char* text) override;
    int SetActiveCamera(int camera, int flag) override;
    int GetCommPortNum(int index, IFW_COMPORT_KIND kind) override;

    // Opens a module through its marker file in the client's application-data
    // folder when the file exists, else by name alone.
    CICapMod* CreateCaptureModule(const char* name, ULONG index, const char* markerFile);
    // Finds and opens up to eight cameras (fewer when limit is positive);
    // returns how many were opened.
    int CreateModules(int limit);
    // Deletes one camera's (index >= 0) or every camera's (index < 0)
    // interrupt object and module. Returns 1.
    int DeleteModules(int camera);
    // Reopens one camera (at most once every 7 s across all objects) or all.
    int ReCreateModules(int camera);
    // Nonzero when the camera (every camera for a negative index) answers.
    int CheckCCP(int camera);
    // 1 when reachable; otherwise recovers the camera while acquiring and returns 0.
    int CheckConnection(int camera);

    // ---- Acquisition -------------------------------------------------------
    int Start() override;
    int Stop() override;
    int Terminate() override;
    int Destroy() override;
    int GenerateSoftTrigger(int camera) override;
    void GenerateManualTrigger(int camera) override;
    ULONG GetFrameCount(int camera) override;
    void* GetFramePtr(int camera) override;
    double GetFrameTimestamp(int camera) override;
    void SetAcqReady(int ready) override;
    int Display(HWND window, unsigned char* image) override;
    void RegisterAcquireEventCallback(IFW_ACQ_EVENT_CALLBACK fn, void* context) override;
    void UnRegisterAcquireEventCallback() override;

    void StartGrabs(int camera);
    void StopGrabs(int camera);
    void StartGeni(int camera);
    void StopGeni(int camera);
    void GevaSoftTrig(int channel);
    // Handlers of the I/O controllers' interrupts (run on library threads).
    void StartExposureInterrupt(int channel);
    void ChangeSolutionInterrupt();

    // ---- Camera parameters -------------------------------------------------
    void SetCamParam(ULONG number, double value, ULONG sub);
    void SetAllCamParam(ULONG number, double value, ULONG sub);
    void ApplyParameters(int camera);
    static ULONG GetParamId(ULONG slot);
    static ULONG GetParamIndex(ULONG number);

    int SetExposure(double exposure, int camera) override;
    double GetExposure() override;
    double GetCamExposure(int camera) override;
    int SetBrightness(UINT value) override;
    int SetContrast(UINT value) override;
    int SetCamBrightness(UINT value, int camera) override;
    UINT GetBrightness() override;
    UINT GetContrast() override;
    UINT GetCamBrightness(int camera) override;
    int SetTriggerMethod(TriggerMethod method) override;
    int SetCamTriggerMethod(TriggerMethod method, int camera) override;
    TriggerMethod GetTriggerMethod() override;
    int SetTriggerParams() override;
    int SetTriggerSource(int camera);
    int SetFrameDelay(UINT delay) override;
    UINT GetFrameDelay() override;
    void SetTrigScaler(int value, int line) override;
    int GetTrigScaler(int line) override;
    int SetImageColor(IFW_IMAGE_COLOR_TYPE type) override;
    UINT GetExternalTriggerDelay() override;
    int GetExternalTriggerDelayEnable() override;
    UINT GetPartsBetweenSensors() override;
    ULONG ReadReg(ULONG reg) override;
    void WriteReg(ULONG reg, ULONG value) override;
    double Count2Gain(ULONG number, double count, double maximum);
    double Decibel2Gain(double decibels);
    double Gain2Decibel(double gain);
    int GetBaseEquation(int index, char* text) override;

    // ---- Colour ------------------------------------------------------------
    // The image to deliver for a ring slot: converted from Bayer, or cut to
    // 3-byte pixels, into the colour output buffer; the source itself when
    // no conversion applies. Camera -1 converts every camera.
    unsigned char* ConvertTo24(int camera, unsigned char* source);
    int ComputeWhiteBalance(int camera, IFW_RECT* rect);
    int SetWhiteBalance(int camera, IFW_RECT* rect) override;

    // ---- Lines and decisions ------------------------------------------------
    // Line numbers are flat indexes 0 to 31 over the controllers, the boards
    // and the cameras' own lines, as GetGpioAttr numbers them.
    int GetGpioAttr(IFW_GPIO_ATTR* attr) override;
    UINT GetGPInputValue(int all) override;
    // The "QBM" board's inputs (solution-select order when solutionMode is set).
    UINT ReadQB3GPInput(int solutionMode);
    ULONG GetInputChangeNames(char* names) override;
    void SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg) override;
    void SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg) override;
    void* CreateInputActiveCallback(UINT index, IFW_INPUT_ACTIVE_CALLBACK fn, void* context) override;
    void DeleteInputActiveCallback(void* node) override;
    void* AddDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) override;
    void DelDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera) override;
    int SetPass(ULONG unused) override;
    int SetFail(ULONG unused) override;
    int SetRecycle(ULONG unused) override;
    // Marks the queued decision `kind` in the result words (and times the
    // "RCS" pulse generators of that kind from the frame).
    void EnqueueResultKind(IFW_GPO_DRIVER kind);
    void EnqueueResult() override;
    int SetPulse(int line, int on) override;
    int SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) override;
    int SetDummyDecisionFIFO(UINT count, UINT unused) override;
    int GeneratePulseOutPort(UINT port, int level, double offsetMs, double durationMs) override;
    int SetOutputPort(UINT port, int value) override;
    int ToggleLed(ULONG which) override;
    int SetReady(int ready) override;
    int SetSolutionLoaded(int loaded, int number) override;
    int SetRejectorPulseControl() override;
    int SetStrobeOffset(UINT offset) override;
    int SetStrobeDuration(UINT duration) override;
    void SetStrobeEnable(int enable) override;
    UINT GetStrobeOffset() override;
    UINT GetStrobeDuration() override;
    int GetStrobeEnable() override;
    int SetExternalTriggerDelay(UINT delay) override;
    int SetExternalTriggerDelayEnable(int enable) override;
    int SetPartsBetweenSensors(UINT parts) override;

    // ---- PLC link and storage ----------------------------------------------
    // The PLC operations forward to the "RCS" controller and fail (0, null)
    // without one. File-change registrations belong to the object until
    // PlcDelFileChangeCallback or Terminate (DeletePlcCallbacks) frees them.
    int PlcGetInputs(ULONG offset, ULONG count, unsigned char* data) override;
    int PlcGetInputsSigned16(ULONG offset, ULONG count, unsigned short* data) override;
    int PlcGetInputsSigned32(ULONG offset, ULONG count, ULONG* data) override;
    int PlcGetInputsFloat(ULONG offset, ULONG count, float* data) override;
    int PlcSetOutputs(ULONG offset, ULONG count, unsigned char* data) override;
    int PlcSetOutputsSigned16(ULONG offset, ULONG count, unsigned short* data) override;
    int PlcSetOutputsSigned32(ULONG offset, ULONG count, ULONG* data) override;
    int PlcSetOutputsFloat(ULONG offset, ULONG count, float* data) override;
    void* PlcAddFileChangeCallback(ULONG unused, ULONG first, ULONG second, ULONG third, IFW_FILE_CHANGE_CALLBACK fn,
                                   void* context) override;
    int PlcDelFileChangeCallback(void* handle) override;
    int IsPLCTypeSupported(IFW_COMM_ROLE_TYPE role) override;
    int PlcSetIPAddress(ULONG address, ULONG mask, ULONG gateway, char* name) override;
    ULONG PlcGetIPAddress(ULONG* address, ULONG* mask, char* name) override;
    int PlcGetMACAddress(unsigned char* address) override;
    // Look-up and calibration tables reach the cameras.
    int WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) override;
    int LinearizeLUT() override;
    int InvLinearizeLUT() override;
    void WriteCalib(unsigned char* data, ULONG size) override;
    // The common line keys, then one group of "Cam%d." keys per camera.
    int SaveStorage(XiStorage* store) override;
    int LoadStorage(XiStorage* store) override;
    // Frees every file-change registration (Terminate calls it before the
    // controller goes away).
    void DeletePlcCallbacks();

protected:
    // ---- PLC link and storage ----------------------------------------------
    // A file-change registration; the record is refreshed before each call.
    struct PlcFileCallback {
        CIGrabGev* owner;
        IFW_FILE_CHANGE_CALLBACK fn;
        void* context;
        void* handle;  // the controller's data-in callback
        IFW_FILE_DATA_CB_RECORD record;
        PlcFileCallback* next;
    };
    CRCS* Rcs() const;
    static void PlcDataInChanged(RCS_DATAIN_CB_RECORD* change, void* registration);
    // One camera's keys; false once a write failed.
    void LoadCameraKeys(XiStorage* store, int camera);
    bool SaveCameraKeys(XiStorage* store, int camera);
    PlcFileCallback* m_plcCallbacks = nullptr;

    // Per-camera settings, seeded from the common settings.
    struct CameraSettings {
        double exposure;
        UINT contrast, brightness;
        UINT strobeOffset, strobeDuration;
        int strobeEnable;
        TriggerMethod triggerMethod;
        UINT frameDelay;  // milliseconds
        UINT triggerDelay;
        int triggerDelayEnable;
    };
    // A channel interrupt's context: which object and which channel.
    struct ChannelContext {
        CIGrabGev* grab;
        int channel;
    };

    // Shows a message box (never blocking off Windows) and tells the debug catcher.
    void ShowMessage(const char* caption, const char* text);
    // Reads a text parameter of a camera ("" when it has none).
    static const char* CameraText(CICamera* camera, ULONG number);
    // True when camera 0's name contains `word`.
    bool NameContains(const char* word) const;
    // The stored copy of a parameter (slot of its number, sub-index 0 or 1).
    void StoreParam(int camera, ULONG number, double value, ULONG sub);
    // One camera of the two loops; the thread host.
    static DWORD ThreadHostMain(void* self);
    DWORD RunThreadHost();
    void RunAsyncLoop();
    void RunSyncLoop();
    void CheckLostFrames(int camera, OrvGrabTag* grab, ULONG frameNumber, bool async);
    static void IoInterrupt(void* context);
    static void ChannelInterrupt(void* context);

    // ---- Camera parameters and colour: helpers ------------------------------
    // The client active camera as an index into the per-camera arrays (0 when
    // it lies outside them).
    int ParamCamera() const;
    // True when the camera's name ("model-part") contains `word`.
    bool CameraNameContains(int camera, const char* word) const;
    // Sets a parameter on one camera when it is present and keeps it in the
    // store for that camera either way.
    void SetStoredCamParam(int camera, ULONG number, double value, ULONG sub);
    // A camera's parameter value (0.0 when absent or unreadable).
    double ReadCamParam(int camera, ULONG number, ULONG sub = 0);
    // The top of a camera's range for a parameter; false when the camera is
    // absent or reports no range.
    bool ParamMaximum(int camera, ULONG number, double* maximum);
    // Programs the trigger of one present camera under the object mutex.
    void ProgramTrigger(int camera);

    // ---- Modules and acquisition: helpers ----------------------------------
    // Initialize's steps after discovery.
    void ProgramPacketDelay(int camera, const ULONG* packetSize);
    void BringUpIoControllers(bool& broughtUp);
    void SeedTrxLines(int side);
    void SeedRcsLines(int side);
    void SeedUsbLines(int module, int channel);
    void ProgramOutputDefaults(bool ioBroughtUp);
    // Opens a camera's "GEV" module by the route it was first opened by.
    CICapMod* OpenCameraModule(ULONG index, bool fromMarker);
    // Arms the I/O controllers' decision queues before grabs start.
    void ArmIoControllers();
    // Buffers per camera that fit the ring for slots of `slotBytes`.
    ULONG RingSlotCount(std::size_t slotBytes) const;
    // Frees every frame the synchronous loop holds.
    void ReleaseHeldFrames();
    // The acquisition loops run while this is set; Stop clears it from any thread.
    bool LoopRuns() const;
    void SetLoopRun(bool run);
    bool OnAcquisitionThread() const;

    int m_loopRun;      // read and written atomically
    int m_hostRun;      // the thread host runs while set (atomically)
    HANDLE m_grabLock;  // guards modules, cameras, grab handles and interrupt objects
    ULONG m_lostSeen[kMaxCameras];  // the last lost-frame counter seen per camera grab

    // Per camera.
    CICapMod* m_camModule[kMaxCameras];
    CICamera* m_camera[kMaxCameras];
    IFW_CAM_ATTR m_camAttr[kMaxCameras];
    char m_camName[kMaxCameras][MAX_PATH];
    ULONG m_camAddress[kMaxCameras];  // IPv4, host order
    ULONG m_fromMarker[kMaxCameras];
    CInterrupt* m_interrupt[kMaxCameras];
    CameraSettings m_cam[kMaxCameras];
    OrvGrabTag* m_grab[kMaxCameras];
    unsigned char* m_frameAddress[kMaxCameras];
    int m_frameIndex[kMaxCameras];
    ULONG m_camFrameCount[kMaxCameras];
    double m_frameTime[kMaxCameras];
    double m_arrivalTime[kMaxCameras];
    double m_paramValue[kMaxCameras][kParamSlots][2];
    ULONG m_paramSet[kMaxCameras][kParamSlots][2];

    // Object-wide.
    int m_numCameras;
    CICapMod* m_primaryModule;
    CICapMod* m_gioModule;
    CICapMod* m_qbmModule;
    CICapMod* m_trxModule;
    CICapMod* m_rcsModule;
    CICapMod* m_usbModule[kMaxUsbModules];
    CIntrCallback* m_ioCallback;
    CIntrCallback* m_trxCallback[2];
    CIntrCallback* m_usbCallback[4];
    ChannelContext m_channelContext[4];
    ULONG m_exposureDivider;
    ULONG m_lineScan;
    ULONG m_bayerCode;
    int m_convertTo24;
    unsigned char* m_colourBuffer;
    std::size_t m_colourBufferSize;
    CORVOS* m_os;
    HANDLE m_acqReadyEvent;
    HANDLE m_goEvent;
    HANDLE m_acqStoppedEvent;
    HANDLE m_acqThread;
    int m_inAcquisition;
    int m_manualTriggerPending;
    int m_currentCamera;
    ULONG m_results[16];
    IFW_ACQ_EVENT_CALLBACK m_acqEventCallback;
    void* m_acqEventContext;
    CImgConn* m_display;
    ULONG m_hwTriggerSource;
    ULONG m_lastLostCount;
    ULONG m_transferTime;  // milliseconds

    // ---- Lines and decisions ------------------------------------------------
    // One input-active callback: the client's function and context for an
    // index of the input-change name list, and the module's callback.
    struct InputActiveNode {
        UINT index;
        IFW_INPUT_ACTIVE_CALLBACK fn;
        void* context;
        CIntrCallback* callback;
        InputActiveNode* next;
    };
    // Input-active nodes and "QBM" pulse timers; freed with the last copy of
    // the object, after Terminate has deleted the modules and their callbacks.
    struct LineResources;
    LineResources& Lines();
    static void InputActiveTrampoline(void* node);
    // A "GIO" module with bit 0 of its information word, or an "LXP" module.
    bool GioBasic() const;
    // A "QBM" board with bit 0 of its information word.
    bool QbmBoard() const;
    int Decide(const char* op, IFW_GPO_DRIVER queued, IFW_GPO_DRIVER immediate, const ULONG pattern[3]);
    void PulseLine(ULONG line);
    void ApplyCameraOutputConfig(ULONG line, const IFW_GPO_CONFIG& cfg);
    void ApplyControllerStrobe(ULONG flag);

    ULONG m_firstDciOutput = 0;
    ULONG m_firstDciInput = 0;
    ULONG m_firstCamInput = 0;
    ULONG m_firstCamOutput = 0;
    ULONG m_strobeLine = 0;  // index of the strobe line among a camera's outputs
    ULONG m_usbInputCache = 0;
    double m_usbInputTime = -1.0e9;  // milliseconds, platform clock
    ULONG m_dciInputCache = 0;
    double m_dciInputTime = -1.0e9;
    InputActiveNode* m_inputNodes = nullptr;
    OrvPulseGenTag* m_pulseGen[8] = {};  // "RCS" pulse generator per output line 0 to 7
    int m_ledA = 0;
    int m_ledB = 0;
    int m_rcsLedManual[3] = {};
    ULONG m_gioOutputImage = 0;
    int m_gioOutputWritten = 0;
    UINT m_dummyDecisions = 0;
    std::shared_ptr<LineResources> m_lineResources;
};
