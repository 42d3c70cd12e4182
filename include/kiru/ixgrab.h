// IXGrab: the grab interface a client programs against. It carries a default
// implementation of every operation and all the state the interface exposes;
// nothing is pure virtual, so a client may derive from it directly.
// The virtual operations are declared in their fixed slot order.
#pragma once

#include <cstdint>
#include <kiru/export.h>
#include <kiru/ifw_types.h>
#include <kiru/win_types.h>
#include <kiru/xistorage.h>

class KIRU_API IXGrab {
public:
    // Trigger sources: 2 free-running, 3 hardware trigger, 4 software trigger.
    enum TriggerMethod {
        TRIGGER_NONE = 0,
        TRIGGER_FREE_RUN = 2,
        TRIGGER_HARDWARE = 3,
        TRIGGER_SOFTWARE = 4
    };

    IXGrab();
    IXGrab(const IXGrab&);
    IXGrab& operator=(const IXGrab&);

    virtual ~IXGrab();
    virtual IFW_IGRABTYPE GetGrabType();

    // Lifecycle
    virtual int Initialize();
    virtual int Create(ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bitsPerPixel,
                       ULONG bufferCount, ULONG timeout);
    virtual int Destroy();
    virtual int Terminate();
    virtual int Stop();
    virtual int Start();

    // Callbacks. The contract with the client:
    // - Frame, trash and change-solution callbacks run on the back-end's
    //   acquisition or interrupt threads, never on the thread that registered
    //   them; the acquisition-thread-exit callback runs on the exiting thread.
    // - The image handed to a callback is a ring buffer (or a converted copy)
    //   that is valid until the callback returns; copy what you keep. A buffer
    //   the client still holds when the ring comes round to it makes the new
    //   frame go to the trash callback.
    // - A buffer-ex descriptor lives for the call only.
    // - Change callbacks while acquisition is stopped: registration takes no
    //   lock. Callback results are ignored.
    // - A callback may call the object's setters, triggers, verdicts and Stop.
    //   Stop from inside a callback ends acquisition without waiting for the
    //   calling thread, which ends once the callback returns; Start from inside
    //   a callback fails. Destroy, Terminate and KiruGrabDelete belong on the
    //   client's own threads.
    // - After Stop returns on a client thread, no frame callback runs.
    virtual void RegisterTrashCallback(IFW_BUFFER_CALLBACK fn, void* context);
    virtual void RegisterBufferCallback(IFW_BUFFER_CALLBACK fn, void* context);
    virtual void RegisterBufferCallbackEx(IFW_BUFFER_EX_CALLBACK fn, void* context);
    virtual void RegisterErrorCallback(IFW_BUFFER_CALLBACK fn, void* context);
    virtual void RegisterChangeSolutionCallback(IFW_BUFFER_CALLBACK fn, void* context);
    virtual void RegisterAcqThreadExitCallback(IFW_ACQ_EXIT_CALLBACK fn, void* context);
    virtual void UnRegisterTrashCallback();
    virtual void UnRegisterBufferCallback();
    virtual void UnRegisterErrorCallback();
    virtual void UnRegisterChangeSolutionCallback();
    virtual void UnRegisterAcqThreadExitCallback();

    // Stored camera values
    virtual int SetContrast(UINT value);
    virtual int SetExposure(double ms, int camera);
    virtual int SetBrightness(UINT value);
    virtual int SetImageColor(IFW_IMAGE_COLOR_TYPE type);
    virtual int SetFrameDelay(UINT delay);
    virtual int SetRecycleDelay(UINT delay);
    virtual int SetRejectorDelay(UINT delay);
    virtual int SetStrobeOffset(UINT offset);
    virtual int SetStrobeDuration(UINT duration);
    virtual int SetExternalTriggerDelay(UINT delay);

    // Triggers and decisions
    virtual int SetTriggerMethod(TriggerMethod method);
    virtual int SetCamTriggerMethod(TriggerMethod method, int camera);
    virtual void SetStrobeEnable(int enable);
    virtual void GenerateManualTrigger(int camera);
    virtual int SetTriggerParams();
    virtual int SetRejectorPulseControl();
    virtual int SetDummyDecisionFIFO(UINT a, UINT b);
    virtual int SetGPO0();
    virtual int SetGPO1(UINT value);
    virtual int SetReady(int ready);
    virtual int SetPass(ULONG camera);
    virtual int SetFail(ULONG camera);
    virtual int SetRecycle(ULONG camera);
    virtual int SetDecisionOutput(ULONG output, IFW_DECISION_OUTPUT_TYPE type);
    virtual int WriteLUTBuf(ULONG first, ULONG count, unsigned char* table);
    virtual int SetOutputPort(UINT port, int value);
    virtual int GeneratePulseOutPort(UINT port, int value, double delayMs, double durationMs);
    virtual int SetActiveCommPort(int port);
    virtual int EmulationTrigger();
    virtual int ToggleLed(ULONG led);
    virtual int RejectorControl(int on);
    virtual int RejectorTestControl(int value);
    virtual UINT GetLUTFloor();
    virtual UINT GetLUTCeiling();
    virtual UINT GetGPInputValue(int input);
    virtual int GetCommPortNum(int port, IFW_COMPORT_KIND kind);
    virtual int GenerateSoftTrigger(int camera);
    virtual ULONG GetWidth();
    virtual ULONG GetHeight();
    virtual char* GetImagePath();
    virtual char* GetImageFileName(int type, int a, int b);
    virtual int EmulateFromNewImagePath(char* path, ULONG width, ULONG height);
    virtual int SetSolutionChangeState(int state);
    virtual ULONG GetHardwareRevision();
    virtual ULONG GetSerialNumber();  // no-op group
    virtual int SetHwSolutionIDNumBits(int bits);
    virtual void* CreateInputActiveCallback(UINT input, IFW_INPUT_ACTIVE_CALLBACK fn, void* context);
    virtual void DeleteInputActiveCallback(void* handle);
    virtual ULONG GetInputChangeNames(char* names);
    virtual int SetClientActiveCamera(int camera);
    virtual int SaveStorage(XiStorage* store);
    virtual int LoadStorage(XiStorage* store);
    virtual int SetSolutionLoaded(int loaded, int number);
    virtual double GetFrameRate();
    virtual void WriteReg(ULONG reg, ULONG value);
    virtual ULONG ReadReg(ULONG reg);
    virtual void WriteRegField(ULONG reg, ULONG shift, ULONG width, ULONG value);
    virtual ULONG ReadRegField(ULONG reg, ULONG shift, ULONG width);
    virtual void WriteCalib(unsigned char* data, ULONG size);
    virtual ULONG ReadProductID();            // no-op group
    virtual int WriteProductID(ULONG id);     // no-op group
    virtual void EnqueueResult();
    virtual int SetPulse(int line, int value);

    // Serial ports
    virtual void* OpenComPort(const wchar_t* name);
    virtual void CloseComPort(void* port);
    virtual int GetCommState(void* port, DCB* dcb);
    virtual int SetCommState(void* port, DCB* dcb);
    virtual int SetCommTimeouts(void* port, COMMTIMEOUTS* timeouts);
    virtual int ClearCommError(void* port, ULONG* errors, COMSTAT* status);
    virtual int WriteComPort(void* port, const void* data, ULONG count, ULONG* written);
    virtual int ReadComPort(void* port, void* buffer, ULONG count, ULONG* read);
    virtual void PurgeComPort(void* port);

    // No-op group: calibration and production tests
    virtual int CalStart(UINT a, UINT b, UINT c, UINT d, UINT e, char* s1, int* i1, float* f1, char* s2, char* s3);
    virtual int CalSelectCalPoint(int p, UINT a, UINT b, UINT c, UINT d, UINT e, int q, int r, int* i1, int* i2,
                                  char* s1, char* s2);
    virtual int CalFindFlatZone(int p, UINT a, UINT b, UINT c, UINT d, UINT e, int q, int r, float f1, UINT u,
                                float f2, float f3, int* i1, int* i2, char* s1, char* s2);
    virtual int CalSaveAllValues(UINT a, UINT b, UINT c, UINT d, UINT e, UINT f, UINT g, UINT h, UINT i, UINT j,
                                 UINT k);
    virtual ULONG RunTest(ULONG test);
    virtual ULONG RunTestEx(ULONG test, unsigned char* in, ULONG inSize, unsigned char* out, ULONG outSize);
    virtual int WriteFPGAFile(char* path);
    virtual void SetFPLocations(IFW_FPV_DEF* locations);

    // Geometry
    virtual ULONG BitToBytePerPixel(ULONG bits);
    virtual void AjustValue(ULONG& value, ULONG current, ULONG def, ULONG minimum, ULONG maximum);
    virtual int SetWidth(ULONG width);
    virtual int SetHeight(ULONG height);
    virtual int SetBytesPP(ULONG bytes);
    virtual int SetBufferCount(ULONG count);
    virtual int IsGrabRunning();
    virtual int IsGrabInitialized();
    virtual ULONG GetBytesPP();
    virtual ULONG GetBufferCount();

    // Stored values
    virtual UINT GetContrast();
    virtual double GetExposure();
    virtual UINT GetBrightness();
    virtual UINT GetFrameDelay();
    virtual UINT GetStrobeOffset();
    virtual UINT GetStrobeDuration();
    virtual int GetStrobeEnable();
    virtual UINT GetExternalTriggerDelay();
    virtual int GetExternalTriggerDelayEnable();
    virtual int SetExternalTriggerDelayEnable(int enable);
    virtual TriggerMethod GetTriggerMethod();
    virtual int GetCamAttr(IFW_CAM_ATTR* attr);
    virtual void GetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg);
    virtual void SetGPIConfig(ULONG line, IFW_GPI_CONFIG* cfg);
    virtual void GetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg);
    virtual void SetGPOConfig(ULONG line, IFW_GPO_CONFIG* cfg);
    virtual int GetActiveCamera();
    virtual IFW_IMAGE_COLOR_TYPE GetImageColor();
    virtual int GetNumCameras();
    virtual int GetGpioAttr(IFW_GPIO_ATTR* attr);
    virtual void SetAcqReady(int ready);

    // Transforms and tiling
    virtual unsigned char* GetNextInterjectImage(IFW_EMULATOR_IMAGETYPE type, int set, int index);
    virtual unsigned char* ApplyImageTransform(unsigned char* image, int unused);
    virtual int SetRotateTransform(ULONG degrees);
    virtual int SetTiling(ULONG horizontal, ULONG vertical);
    virtual ULONG GetHorzTiles();
    virtual ULONG GetVertTiles();
    virtual int SetWhiteBalance(int camera, IFW_RECT* rect);
    virtual int GetNumAsyncCameras();
    virtual void GotTeachImage();
    virtual void SetASyncMode(int async);
    virtual int GetBaseEquation(int line, char* text);
    virtual void SetNumCameras(int count);
    virtual double GetTemperature(int sensor);
    virtual int GetExpicitSetNumCameras();
    virtual int GetCameraDesc(int camera, char* text);
    virtual void SetMACAddress(unsigned char* address, ULONG size);  // no-op group
    virtual void SetOutputQueueMode(int mode);                       // no-op group
    virtual void SetTrigScaler(int camera, int scaler);
    virtual int GetTrigScaler(int camera);
    virtual void SetImgRegion(IFW_IMG_REGION_TYPE region);
    virtual void SetImgInterjectState(int state);
    virtual void SetImgTransform(IFW_IMG_TRANSFORM_TYPE transform);
    virtual void SetImgSrcConformEnable(int enable);
    virtual void ReTrigger(unsigned char* image, int camera);
    virtual void ReTrigger(int camera);
    virtual void* GetFramePtr(int index);
    virtual ULONG GetFrameCount(int camera);
    virtual void SetDbgCatcher(IFW_DBG_CATCHER catcher, void* context);
    virtual void SetProductName(wchar_t* name);
    virtual void SetClientConnect(int connected);
    virtual void SetMaxTrigFreq(int frequency);
    virtual unsigned char* GetMosaicImage(int index);
    virtual void RegisterAcquireEventCallback(IFW_ACQ_EVENT_CALLBACK fn, void* context);
    virtual void UnRegisterAcquireEventCallback();
    virtual double GetFrameTimestamp(int camera);
    virtual UINT GetCamBrightness(int camera);
    virtual int SetCamBrightness(UINT value, int camera);
    virtual double GetCamExposure(int camera);

    // PLC link
    virtual int PlcGetInputs(ULONG area, ULONG offset, unsigned char* data);
    virtual int PlcGetInputsSigned16(ULONG area, ULONG offset, unsigned short* data);
    virtual int PlcGetInputsSigned32(ULONG area, ULONG offset, ULONG* data);
    virtual int PlcGetInputsFloat(ULONG area, ULONG offset, float* data);
    virtual int PlcSetOutputs(ULONG area, ULONG offset, unsigned char* data);
    virtual int PlcSetOutputsSigned16(ULONG area, ULONG offset, unsigned short* data);
    virtual int PlcSetOutputsSigned32(ULONG area, ULONG offset, ULONG* data);
    virtual int PlcSetOutputsFloat(ULONG area, ULONG offset, float* data);
    virtual void* PlcAddFileChangeCallback(ULONG unused, ULONG first, ULONG second, ULONG third,
                                           IFW_FILE_CHANGE_CALLBACK fn, void* context);
    virtual int PlcDelFileChangeCallback(void* handle);
    virtual int IsPLCTypeSupported(IFW_COMM_ROLE_TYPE role);
    virtual void* AddDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera);
    virtual void DelDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera);
    virtual int PlcSetIPAddress(ULONG address, ULONG mask, ULONG gateway, char* name);
    virtual ULONG PlcGetIPAddress(ULONG* address, ULONG* mask, char* name);
    virtual int PlcGetMACAddress(unsigned char* address);
    virtual int SkipFrameLikely();  // no-op group

protected:
    // The geometry a Create call settled on, before the ring is installed.
    struct RingPlan {
        ULONG offsetX, offsetY, width, height, bits, bytes, count, timeout;
        ULONG stride;    // bytes from one frame to the next
        ULONG ringSize;  // bytes in the ring
    };
    // Create's validation and sizing (everything before allocation). cigrabRules
    // selects the common layer's sizing by grab type and tiling.
    int PlanRing(const char* cls, ULONG offsetX, ULONG offsetY, ULONG width, ULONG height, ULONG bits,
                 ULONG count, ULONG timeout, bool cigrabRules, RingPlan& plan);
    // Takes ownership of ring (zeroing it), builds the frame table and stores
    // the geometry. On failure the ring is released unless external.
    int InstallRing(const char* initPrefix, const RingPlan& plan, unsigned char* ring, bool external);
    // Rebuilds the ring after a geometry setter changed a value and restarts
    // acquisition if it was running; the setter's result does not depend on it.
    void RebuildAfterSetter(ULONG bits, ULONG count, ULONG timeout);
    // Removes the callbacks Terminate removes, in its order.
    void UnregisterOnTerminate();
    // Releases the frame table and, unless external, the ring.
    void ReleaseRing(bool external);
    // Writes "<cls>::<op>: <reason>" into the last-error text and returns 0.
    int Fail(const char* cls, const char* op, const char* reason);
    // Returns 1 when initialized, else the not-initialized failure of <cls>::<op>.
    int CheckInitialized(const char* cls, const char* op);
    // The common behaviour of the IXGrab and CIGrab forms, parameterised by
    // the class name that prefixes their messages.
    // Byte counts of the crop offsets and the AOI, kept by the common layer.
    struct OffsetByteCounts {
        ULONG offsetX, offsetY, aoiWidth, aoiHeight;
    };
    int CommonSetImageColor(const char* cls, IFW_IMAGE_COLOR_TYPE type, OffsetByteCounts* counts);
    int CommonSetTriggerMethod(const char* cls, TriggerMethod method);
    int CommonStoreDelay(const char* cls, const char* op, UINT& field, UINT value);
    int CommonSetBrightnessLike(const char* cls, const char* op, const char* reason, UINT& field, UINT value);
    int CommonSetRejectorDelay(const char* cls, UINT delay);
    int CommonSetRecycleDelay(const char* cls, UINT delay);
    int CommonSetExternalTriggerDelay(const char* cls, UINT delay);
    int CommonRejectorControl(const char* cls, int on);
    int CommonRejectorTestControl(const char* cls, int value);
    int CommonSetOutputPort(const char* cls, UINT port, int value);
    int CommonGetCamAttr(const char* cls, IFW_CAM_ATTR* attr);
    int CommonDisplay(const char* cls, HWND window, unsigned char* image);
    int CommonWriteLUTBuf(const char* cls, ULONG count, unsigned char* table);
    int CommonGetCommPortNum(const char* cls);
    unsigned char* CommonApplyImageTransform(unsigned char* image, bool withTiling, unsigned& halfSelector);
    // Frame-type callbacks count as registered only with function and context.
    bool BufferCallbackRegistered() const { return m_bufferCallback != nullptr && m_bufferContext != nullptr; }
    bool BufferExCallbackRegistered() const { return m_bufferExCallback != nullptr && m_bufferExContext != nullptr; }
    bool TrashCallbackRegistered() const { return m_trashCallback != nullptr && m_trashContext != nullptr; }
    // Quarter-turn orientation: rotation modulo 180 within 46..134.
    bool IsQuarterTurn() const;
    // Frame stride factor of the colour type (4, 3 or 1).
    ULONG ColorStrideFactor() const;

    // State, in declaration order; copying copies every field as a value.
    IFW_DBG_CATCHER m_dbgCatcher;
    void* m_dbgCatcherContext;
    int m_rejectorEnabled;
    int m_recyclerEnabled;
    int m_extTriggerDelayEnabled;
    int m_strobeEnabled;
    double m_camDouble[4];
    int m_camIntA[4];
    int m_camIntB[4];
    UINT m_rejectorDelay;
    UINT m_recycleDelay;
    UINT m_extTriggerDelay;
    UINT m_strobeDuration;
    UINT m_strobeOffset;
    int m_retriggerBusy;
    int m_ioRunning;
    int m_appRunning;
    int m_rejectorTestValue;
    int m_solutionChangeHandled;
    TriggerMethod m_triggerMethod;
    double m_exposureMin;
    double m_exposureMax;
    double m_exposureLimit3;
    int m_solutionChangeState;
    HANDLE m_objectMutex;
    IFW_IMG_TRANSFORM_TYPE m_imgTransform;
    IFW_GPIO_ATTR m_gpioAttr;
    int m_conformImageSource;
    int m_widthSetExplicitly;
    int m_heightSetExplicitly;
    int m_clientActiveCamera;
    ULONG m_offsetX;
    ULONG m_offsetY;
    ULONG m_width;
    ULONG m_height;
    ULONG m_bitsPerPixel;
    ULONG m_bytesPerPixel;
    ULONG m_aoiWidth;
    ULONG m_aoiHeight;
    ULONG m_timeout;
    ULONG m_bufferCount;
    ULONG m_ringSize;
    ULONG m_widthByteCount;
    ULONG m_heightByteCount;
    ULONG m_imageSizeBytes;
    ULONG m_imageSizePixels;
    unsigned char** m_imageArray;
    unsigned char* m_ring;
    UINT m_contrast;
    double m_exposure;
    UINT m_brightness;
    UINT m_frameDelay;
    UINT m_lutFloor;
    UINT m_lutCeiling;
    UINT m_outputPortValue;
    IFW_IMAGE_COLOR_TYPE m_imageColor;
    int m_activeCamera;
    void* m_trashContext;
    void* m_bufferContext;
    void* m_bufferExContext;
    void* m_changeSolutionContext;
    IFW_BUFFER_CALLBACK m_trashCallback;
    IFW_BUFFER_CALLBACK m_bufferCallback;
    IFW_BUFFER_EX_CALLBACK m_bufferExCallback;
    IFW_BUFFER_CALLBACK m_changeSolutionCallback;
    IFW_ACQ_EXIT_CALLBACK m_acqThreadExitCallback;
    void* m_acqThreadExitContext;
    int m_asyncMode;
    int m_interjectState;
    int m_running;
    int m_created;
    int m_initialized;
    char m_lastError[1024];
    int m_hwSolutionIdBits;
    IXGrab* m_interjectEmulator;
    unsigned char* m_interjectImage;
    ULONG m_rotation;
    unsigned char* m_transformBuffer;
    ULONG m_horzTiles;
    ULONG m_vertTiles;
    int m_explicitNumCameras;
    int m_solutionLoaded;
    int m_solutionNumber;
    double m_frameRate;
    double m_lastFrameTime;
    IFW_IMG_REGION_TYPE m_imgRegion;
    IFW_GPI_CONFIG m_gpiConfig[32];
    IFW_GPO_CONFIG m_gpoConfig[32];
    ULONG m_acqThreadId;
    char m_productName[260];
    int m_clientConnected;
    int m_maxTrigFreq;
    ULONG m_hardwareRevision;
    unsigned char* m_mosaicImage;
};
