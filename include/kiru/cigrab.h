// CIGrab: the common implementation every back-end derives from. It adds the
// geometry byte counts, the heartbeat thread, the scheduled-output thread and
// the rules shared by all back-ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <kiru/ixgrab.h>

// Frames by fate, as CIGrab::GetFrameCounts reports them.
struct KiruFrameCounts {
    std::uint64_t produced;   // filled by the hardware or the emulator, or dropped before filling
    std::uint64_t delivered;  // handed to the buffer or buffer-ex callback
    std::uint64_t unclaimed;  // no frame callback took it, or acquisition stopped before it was handed over
    std::uint64_t trashed;    // dropped because the client still held its buffer (the trash callback's frames)
    std::uint64_t lost;       // lost by the hardware before it reached the ring
};

class KIRU_API CIGrab : public IXGrab {
public:
    CIGrab();
    CIGrab(const CIGrab&);
    CIGrab& operator=(const CIGrab&);
    ~CIGrab() override;

    IFW_IGRABTYPE GetGrabType() override;
    int Initialize() override;
    int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel, ULONG bufferCount,
               ULONG timeout) override;
    int Destroy() override;
    int Terminate() override;
    int Stop() override;
    int Start() override;

    int SetContrast(UINT value) override;
    int SetExposure(double ms, int camera) override;
    int SetBrightness(UINT value) override;
    int SetImageColor(IFW_IMAGE_COLOR_TYPE type) override;
    int SetFrameDelay(UINT delay) override;
    int SetRecycleDelay(UINT delay) override;
    int SetRejectorDelay(UINT delay) override;
    int SetStrobeOffset(UINT offset) override;
    int SetStrobeDuration(UINT duration) override;
    int SetExternalTriggerDelay(UINT delay) override;
    int SetTriggerMethod(TriggerMethod method) override;
    int SetTriggerParams() override;
    int SetRejectorPulseControl() override;
    int SetDummyDecisionFIFO(UINT a, UINT b) override;
    int SetGPO0() override;
    int SetGPO1(UINT value) override;
    int SetReady(int ready) override;
    int SetPass(ULONG camera) override;
    int SetFail(ULONG camera) override;
    int SetRecycle(ULONG camera) override;
    int SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type) override;
    int WriteLUTBuf(ULONG first, ULONG count, unsigned char* table) override;
    int SetOutputPort(UINT port, int value) override;
    int GeneratePulseOutPort(UINT port, int value, double delayMs, double durationMs) override;
    int SetActiveCommPort(int port) override;
    int EmulationTrigger() override;
    int ToggleLed(ULONG led) override;
    int RejectorControl(int on) override;
    int RejectorTestControl(int value) override;
    UINT GetGPInputValue(int input) override;
    int GetCommPortNum(int port, IFW_COMPORT_KIND kind) override;
    int SaveStorage(XiStorage* store) override;
    int LoadStorage(XiStorage* store) override;
    int SetWidth(ULONG width) override;
    int SetHeight(ULONG height) override;
    int GetCamAttr(IFW_CAM_ATTR* attr) override;
    unsigned char* GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE type, int set, int index) override;
    unsigned char* ApplyImageTransform(unsigned char* image, int unused) override;
    char* GetImageFileName(int type, int a, int b) override;

    // Operations added by the common layer.
    virtual char* GetErrorLog();
    virtual char* GetLastErrorMsg();
    virtual unsigned char* AllocateNonPagedMem(ULONG size);
    virtual int Display(HWND window, unsigned char* image);
    virtual int SetLUTFloor(UINT value);
    virtual int SetLUTCeiling(UINT value);
    virtual int LinearizeLUT();
    virtual int InvLinearizeLUT();
    virtual int GetOutputPortVal(UINT port);
    virtual int SetActiveCamera(int camera, int unused);
    virtual UINT GetPartsBetweenSensors();
    virtual int SetPartsBetweenSensors(UINT parts);
    virtual int ScheduleIOEvent(UINT port, int value, double delayMs, double durationMs);
    virtual void ReadCalib(unsigned char* data, ULONG size);
    virtual int SetOffsetX(ULONG x);
    virtual int SetOffsetY(ULONG y);
    virtual int iSetWidth(ULONG width);
    virtual int iSetHeight(ULONG height);
    virtual int SetBitsPP(ULONG bits);
    virtual int SetAoiWidth(ULONG width);
    virtual int SetAoiHeight(ULONG height);
    virtual int SetTimeOut(ULONG timeout);
    virtual int SetWindowGen(ULONG x, ULONG y, ULONG width, ULONG height);
    virtual int IsGrabCreated();
    virtual int IsIORunning();
    virtual int IsAppRunning();
    virtual int IsCameraDetected(int camera);
    virtual ULONG GetOffsetX();
    virtual ULONG GetOffsetY();
    virtual ULONG GetBitPP();
    virtual ULONG GetAoiWidth();
    virtual ULONG GetAoiHeight();
    virtual ULONG GetTimeOut();
    virtual ULONG GetOffsetXByteCount();
    virtual ULONG GetOffsetYByteCount();
    virtual ULONG GetWidthByteCount();
    virtual ULONG GetHeightByteCount();
    virtual ULONG GetAoiWidthByteCount();
    virtual ULONG GetAoiHeightByteCount();
    virtual ULONG GetRingBufferSize();
    virtual ULONG GetImageSizeInBytes();
    virtual ULONG GetImageSizeInPixels();
    virtual UINT GetRecycleDelay();
    virtual UINT GetRejectorDelay();
    virtual ULONG GetAcqThreadID();

    // Frames by fate since the object was built, for one camera (0 to 7) or,
    // with camera -1, for all cameras together. Every frame a back-end
    // produces ends in exactly one fate once acquisition has stopped:
    // produced = delivered + unclaimed + trashed + lost. Returns 0 for a bad
    // camera or a null record. Safe to call from any thread at any time.
    int GetFrameCounts(int camera, KiruFrameCounts* counts);

    // Helpers for back-ends.
    void DbgPrint(char* message);
    void AcqThreadExitting();
    void UpdateFrameRate(double timeMicroseconds);
    int IsTiling();
    unsigned char* VertToHorzPlanes(unsigned char* src, unsigned char* dst);

protected:
    // Frame delivery, written once for every back-end's acquisition threads.
    // Whether a callback counts as registered: by its function alone, or only
    // when its context is set too (back-ends differ, and say which).
    enum CallbackRule { kFunctionSet, kFunctionAndContextSet };
    enum FrameFate { kFateProduced, kFateDelivered, kFateUnclaimed, kFateTrashed, kFateLost, kFateCount };
    // The buffer callback with a frame, when it counts as registered under
    // `rule`. True when it was called. Counts nothing.
    bool CallBufferCallback(unsigned char* image, ULONG frame, std::int64_t stamp, CallbackRule rule);
    // The buffer-ex callback (function and context set) with a descriptor of
    // the image and camera built for the call. True when it was called.
    bool CallBufferExCallback(unsigned char* image, ULONG frame, std::int64_t stamp, int camera);
    // The trash callback, when it counts as registered under `rule`.
    bool CallTrashCallback(unsigned char* image, ULONG frame, std::int64_t stamp, CallbackRule rule);
    // Hands a produced frame holding `cameras` cameras to the client: in
    // asynchronous mode with a buffer-ex callback (function and context), once
    // per camera through it; otherwise through the buffer callback under
    // `rule`. Counts the frame under `camera` as delivered, or as unclaimed
    // when no callback took it.
    void DeliverFrame(unsigned char* image, ULONG frame, std::int64_t stamp, int cameras, CallbackRule rule,
                      int camera = 0);
    // Adds to one camera's count of a fate (a bad camera is ignored).
    void CountFrames(int camera, FrameFate fate, std::uint64_t count = 1);
    // Called once a back-end's acquisition threads have ended: frames still
    // in flight (produced, never delivered, trashed or lost) are counted as
    // unclaimed, so that the counts add up at every stop.
    void SettleFrameCounts();

    // One pending timed output.
    struct ScheduledOutput {
        double time;  // scheduler clock, milliseconds
        ULONG port;
        int value;
        double duration;  // milliseconds; 0.0 means no reversal
        ScheduledOutput* next;
    };

    int StoreGeometry(ULONG& field, ULONG value);
    void StopHeartbeat();
    void StopScheduler();
    void DropScheduledOutputs();
    void RunScheduler();
    void RunHeartbeat();
    static DWORD SchedulerThreadMain(void* self);
    static DWORD HeartbeatThreadMain(void* self);

    // State added by the common layer, in declaration order.
    std::atomic<int> m_heartbeatRun;
    HANDLE m_schedulerMutex;
    HANDLE m_schedulerEvent;
    HANDLE m_schedulerThread;
    std::atomic<int> m_schedulerStop;
    ScheduledOutput* m_scheduleHead;
    ULONG m_interjectCounter[3];
    OffsetByteCounts m_byteCounts;
    int m_cameraDetected[8];
    UINT m_partsBetweenSensors;
    int m_ringIsExternal;
    HANDLE m_heartbeatThread;
    HANDLE m_heartbeatWake;  // lets Destroy end the heartbeat without waiting out its sleep
    std::uint64_t m_frameCounts[8][kFateCount];  // per camera and fate; read and written atomically
};
