// Real GigE Vision cameras behind "GEV" capture modules. A module bound to
// a real camera forwards its camera operations to a Device; every other
// module stays simulated. The Aravis implementation is built only when the
// library is found at configure time; without it Open always fails and
// Discover finds nothing, so a station never reaches the network.
#pragma once

#include <kiru/win_types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/orv_types.h"

namespace kiru::sim {
class SimModule;
}

namespace kiru::gev {

// One opened camera. Every call is bounded in time: a camera that stops
// answering makes calls fail (0, null, -2) instead of blocking.
class Device {
public:
    virtual ~Device() = default;

    // The id the camera was opened with (device id or address).
    virtual const std::string& Id() const = 0;
    // False once the camera has stopped answering; a dead device is reopened
    // by opening its slot again.
    virtual bool Alive() const = 0;

    virtual int GetAttr(ORV_CAM_ATTR* attr) = 0;
    // Numbered parameters mapped to GenICam features (docs/gige.md). Text
    // parameters answer the address of a text the device keeps alive.
    virtual int GetParam(ULONG number, ULONG index, double* value) = 0;
    virtual int SetParam(ULONG number, ULONG index, double value) = 0;
    virtual int GetCaps(ULONG number, ORV_PARAM_CAPS* caps) = 0;
    virtual bool Supported(ULONG number) = 0;
    virtual double CheckValue(ULONG number, double value) = 0;
    // Stored values: the device's own value, or what was stored without a
    // device write (the software trigger is never fired by a store).
    virtual double GetStored(ULONG number, ULONG index) = 0;
    virtual int SetStored(ULONG number, ULONG index, double value) = 0;

    // Device registers; a register that cannot be read reads 0.
    virtual ULONG ReadReg(ULONG address) = 0;
    virtual int WriteReg(ULONG address, ULONG value) = 0;

    // GenICam features by name (commands execute on any value).
    virtual int SetFeature(const char* feature, double value) = 0;
    virtual int SetEnumFeature(const char* feature, const char* entry) = 0;
    virtual int GetFeature(const char* feature, double* value) = 0;

    virtual int SetAoi(ULONG x, ULONG y, ULONG width, ULONG height) = 0;

    // Streams straight into the client's buffers (each one frame of the
    // current geometry); null with a message on standard error when the
    // stream cannot start or a frame would not fit a buffer.
    virtual HGRAB Grab(ULONG flags, void** buffers, ULONG count) = 0;
    virtual int GrabWaitFrame(HGRAB grab, void** address, ULONG timeoutMs, bool lock, ULONG* count,
                              GRAB_EXT_ATTR* ext) = 0;
    virtual int GrabRelease(HGRAB grab, int index) = 0;
    // Null: every grab of the device. After it returns nothing is written
    // into the grab's buffers any more.
    virtual int GrabStop(HGRAB grab) = 0;

    // Events signalled once per delivered frame.
    virtual void AddFrameEvent(HANDLE event) = 0;
    virtual void RemoveFrameEvent(HANDLE event) = 0;
};

// Opens the camera `id` (an Aravis device id, or an IPv4 address). Null, with
// the reason in *error, when it cannot be opened.
std::shared_ptr<Device> Open(const std::string& id, std::string* error);

// Ids of the GigE Vision cameras on every network interface that is up.
// This broadcasts: it is only called when real cameras were asked for.
std::vector<std::string> Discover();

// Statistics of a real grab of any device; false when the handle is not one.
bool GrabStats(HGRAB grab, ORV_GRAB_STATS* stats);

// True when the library was built with real camera support.
bool Supported();

// How a "GEV" slot is served.
enum class Binding {
    Simulated,  // the station's simulated camera (or no module at all)
    Real,       // a real camera: *module describes the slot, *device is open
    Absent,     // a real camera that is not answering
};

// The selection rule: a station section [GEV:n] with a Device key binds that
// slot to a real camera; with no station at all, KIRU_GIGE=discover makes the
// slots the cameras found on the network. *module receives the station's
// module for simulated slots too.
Binding BindSlot(ULONG index, std::shared_ptr<kiru::sim::SimModule>* module, std::shared_ptr<Device>* device);

}  // namespace kiru::gev
