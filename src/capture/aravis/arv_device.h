// A real GigE Vision camera opened through Aravis. Feature and register
// access is serialised by one control mutex (the GenICam tree of a device is
// not safe to use from two threads); streaming runs on the grabs' own locks.
#pragma once

#include <arv.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "capture/aravis/device.h"

namespace kiru::gev {

class AravisGrab;

class AravisDevice : public Device {
public:
    // Opens and takes control of the camera; null with *error set.
    static std::shared_ptr<AravisDevice> Open(const std::string& id, std::string* error);
    ~AravisDevice() override;
    AravisDevice(const AravisDevice&) = delete;
    AravisDevice& operator=(const AravisDevice&) = delete;

    const std::string& Id() const override { return m_id; }
    bool Alive() const override { return m_alive.load(); }

    int GetAttr(ORV_CAM_ATTR* attr) override;
    int GetParam(ULONG number, ULONG index, double* value) override;
    int SetParam(ULONG number, ULONG index, double value) override;
    int GetCaps(ULONG number, ORV_PARAM_CAPS* caps) override;
    bool Supported(ULONG number) override;
    double CheckValue(ULONG number, double value) override;
    double GetStored(ULONG number, ULONG index) override;
    int SetStored(ULONG number, ULONG index, double value) override;
    ULONG ReadReg(ULONG address) override;
    int WriteReg(ULONG address, ULONG value) override;
    int SetFeature(const char* feature, double value) override;
    int SetEnumFeature(const char* feature, const char* entry) override;
    int GetFeature(const char* feature, double* value) override;
    int SetAoi(ULONG x, ULONG y, ULONG width, ULONG height) override;
    HGRAB Grab(ULONG flags, void** buffers, ULONG count) override;
    int GrabWaitFrame(HGRAB grab, void** address, ULONG timeoutMs, bool lock, ULONG* count,
                      GRAB_EXT_ATTR* ext) override;
    int GrabRelease(HGRAB grab, int index) override;
    int GrabStop(HGRAB grab) override;
    void AddFrameEvent(HANDLE event) override;
    void RemoveFrameEvent(HANDLE event) override;

    // For the grabs: a frame arrived (signals the frame events); a frame was
    // taken (its camera time answers parameter 80 for its buffer); the
    // device stopped answering. StartAcquisition runs under the control
    // mutex (from Grab), StopAcquisition takes it.
    void FrameArrived();
    void FrameTaken(ULONG index, double frameTimeUs);
    void MarkDead(const char* why);
    bool StartAcquisition(std::string* error);
    void StopAcquisition();

    // Every open grab of every device, by handle (GetGrabStats takes a
    // handle of any camera).
    static std::shared_ptr<AravisGrab> FindGrab(HGRAB handle);

private:
    AravisDevice(std::string id, ArvCamera* camera);

    // Under m_control.
    ArvGcNode* Feature(const char* name);
    ArvGcNode* FirstFeature(const char* const* names);
    bool ReadNumber(ArvGcNode* node, double* value);
    bool WriteNumber(ArvGcNode* node, double value);
    bool Bounds(ArvGcNode* node, double* min, double* max);
    bool SetEntry(const char* feature, const char* entry);
    std::string Entry(const char* feature);
    ArvGcNode* GainNode(ULONG number);
    bool ApplyTrigger();
    void ReadIdentity();
    // Keeps a failed call's reason for the console once per parameter.
    void Report(ULONG number, const std::string& what);
    // Checks an Aravis error: clears it, marks the device dead when it says
    // the camera no longer answers; true when there was an error.
    bool Failed(GError** error);

    std::shared_ptr<AravisGrab> FindOwnGrab(HGRAB handle);

    const std::string m_id;
    ArvCamera* m_camera;
    ArvDevice* m_device;  // owned by m_camera
    gulong m_controlLost = 0;
    std::atomic<bool> m_alive{true};

    std::mutex m_control;
    std::map<ULONG, std::string> m_texts;  // identity texts; their addresses are handed out
    std::map<std::pair<ULONG, ULONG>, double> m_stored;
    bool m_triggerOn = false;
    std::size_t m_aoiBytes = 0;  // a frame of the window last set: the client's buffer size
    ULONG m_triggerSource = 0;
    std::set<ULONG> m_reported;

    std::mutex m_frames;  // frame events and frame times
    std::vector<HANDLE> m_frameEvents;
    std::map<ULONG, double> m_frameTimes;

    std::mutex m_grabsMutex;
    std::vector<std::shared_ptr<AravisGrab>> m_grabs;
};

}  // namespace kiru::gev
