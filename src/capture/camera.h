// Camera and I/O channel objects of a capture module (CICapMod::GetCam).
// They belong to their module. Numbered parameters are doubles; a text
// parameter is read as the address of its NUL-terminated text in the
// double's integral value, and written the same way.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

#include <memory>
#include <vector>

#include "capture/orv_types.h"

namespace kiru::sim {
class SimModule;
struct SimChannel;
}
namespace kiru::gev {
class Device;
}

class CInterrupt;

class CICamera : public CIobject {
public:
    int GetAttr(ORV_CAM_ATTR* attr, int flags);

    // 0 when the parameter has no value or the camera does not answer.
    int GetAcqParam(ULONG number, double* value, ULONG index = 0);
    int SetAcqParam(ULONG number, double value, ULONG index = 0);
    int GetParamCaps(ULONG number, ORV_PARAM_CAPS* caps);
    int IsParamSupported(ULONG number);
    // The value the camera will actually use for a requested one.
    double CheckParamValue(ULONG number, double value);

    // Values the library keeps per camera; the same store as the parameters,
    // without the side effects of a parameter write (no software trigger).
    double GetStoredVal(ULONG number, ULONG index = 0);
    int SetStoredVal(ULONG number, double value, ULONG index = 0);

    // 32-bit device registers. 0x0A00 reads nonzero while the camera answers.
    ULONG ReadReg(ULONG address);
    int WriteReg(ULONG address, ULONG value);

    // Tables: kind 0 the look-up table (256 entries), kind 3 the calibration table.
    int WriteTable(ULONG kind, ULONG first, ULONG count, const void* data, ULONG flags);
    int LinearTable(ULONG kind, ULONG flags);
    int InverseTable(ULONG kind, ULONG flags);
    int WriteLutEntry(ULONG kind, ULONG index, ULONG value, ULONG flags);

    // Board channels.
    int ApplyCameraRule(const ORV_CAMERA_RULE* rule, int flags);
    int ApplyCameraRule(const char* ruleName, int flags);
    int ApplyParams();
    int SetChannelState(ULONG state);
    int GetPortInfo(ORV_PORT_INFO* info, ULONG flags = 0);

    int SetAoi(WORD x, WORD y, WORD width, WORD height);

    // Starts filling the buffers in ring order; flag 0x80 arms the grab until
    // register 0x100000A8 is written with 1. Null when the camera cannot grab.
    HGRAB Grab(ULONG flags, void** buffers, ULONG count, LONG mode, ULONG a = 0, ULONG b = 0, ULONG c = 0,
               ULONG d = 0);
    // Index of the oldest filled buffer, locked when lock is nonzero; -1 on
    // time-out (timeoutMs INFINITE: no limit), -2 once the grab has ended.
    int GrabWaitFrame(HGRAB grab, void** address, LONG frame, ULONG timeoutMs, ULONG lock, ULONG* count,
                      void* reserved, GRAB_EXT_ATTR* ext);
    // Frees a locked buffer; index -1 frees all of them.
    int GrabRelease(HGRAB grab, int index = -1);
    // Ends the grab (null: every grab of this camera); a pending wait returns.
    int GrabStop(HGRAB grab);

    // An object whose event is signalled each time event fires (11: each frame).
    CInterrupt* CreateInterruptObject(ULONG event, ULONG flags);

    ULONG Channel() const { return m_channel; }
    kiru::sim::SimModule* Module() const { return m_sim.get(); }

protected:
    CICamera(std::shared_ptr<kiru::sim::SimModule> sim, ULONG channel,
             std::shared_ptr<kiru::gev::Device> device = nullptr);
    // Cameras belong to their module, which deletes them.
    ~CICamera() override;
    friend class CICapMod;
    friend struct std::default_delete<CICamera>;
    std::shared_ptr<kiru::sim::SimModule> m_sim;
    ULONG m_channel;
    kiru::sim::SimChannel* m_state;
    std::shared_ptr<kiru::gev::Device> m_device;  // a real camera answers instead of m_state

private:
    // SetAcqParam under the module mutex; the cameras a controller channel's
    // soft trigger reaches are left in triggered.
    int SetAcqParamLocked(ULONG number, double value, ULONG index, std::vector<ULONG>* triggered);
    CICamera(const CICamera&) = delete;
    CICamera& operator=(const CICamera&) = delete;
    std::vector<HGRAB> m_grabs;  // grabs started through this object (under the module mutex)
};

// Channel of an I/O controller with a decision queue. Decisions queued
// after AdvancedIOStart are released on the controller's clock, parameter
// 16384 (microseconds) after they were queued; AdvancedIOStop empties the queue.
class CAdvancedIOCam : public CICamera {
public:
    int AdvancedIOStart();
    int AdvancedIOStop();
    int AdvancedIOEnqueueDecision(ULONG decision);
    int AdvancedIOSetValidateWindow(ULONG start, ULONG width);
    int AdvancedIOValidateEntry();

protected:
    using CICamera::CICamera;
};

// A side of a "TRX" GigE I/O controller.
class CTRXCam : public CAdvancedIOCam {
protected:
    using CAdvancedIOCam::CAdvancedIOCam;
    friend class CICapMod;
};

// A channel of a "USB" I/O module.
class CUSBCam : public CAdvancedIOCam {
protected:
    using CAdvancedIOCam::CAdvancedIOCam;
    friend class CICapMod;
};
