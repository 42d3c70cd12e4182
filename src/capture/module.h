// Capture modules: CModule (name and interrupt callbacks) and CICapMod (the
// module's cameras or I/O channels, ports, registers and board operations).
// Modules come from OrxCreateCaptureModule and are deleted by the caller
// through the virtual destructor, which also ends the grabs started on the
// module's cameras and deletes the interrupt callbacks still registered.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

#include <memory>
#include <string>
#include <vector>

#include "capture/orv_types.h"

namespace kiru::sim {
class SimModule;
}
namespace kiru::gev {
class Device;
}

class CICamera;
class CIntrCallback;

class CModule : public CIobject {
public:
    ~CModule() override;

    // The module's name ("GEV", "TRX", ...).
    const char* ModName() const;
    ULONG ModIndex() const;

    // Registers fn(context) to run on a library thread each time the module
    // raises event. Null when fn is null.
    CIntrCallback* CreateIntrCallback(ULONG event, ORX_INTR_FUNC fn, void* context);
    // Unregisters and deletes a callback made by this module object; waits
    // for a running call of it to return (unless called from that call).
    // Returns 0, doing nothing, for a callback this module did not make.
    int DeleteIntrCallback(CIntrCallback* callback);

    // For the library's own classes (scripts, entry points).
    const std::shared_ptr<kiru::sim::SimModule>& Sim() const { return m_sim; }

protected:
    CModule(std::shared_ptr<kiru::sim::SimModule> sim, std::shared_ptr<kiru::gev::Device> device);
    std::shared_ptr<kiru::sim::SimModule> m_sim;
    std::shared_ptr<kiru::gev::Device> m_device;  // a real camera serves this "GEV" module

private:
    CModule(const CModule&) = delete;
    CModule& operator=(const CModule&) = delete;
    std::vector<CIntrCallback*> m_callbacks;
};

class CICapMod : public CModule {
public:
    ~CICapMod() override;

    // Camera or I/O channel object of the module (owned by the module), or null.
    CICamera* GetCam(ULONG index);

    // Module information word (feature bits, firmware level).
    ULONG GetModuleInfo();
    // Information item (e.g. item 4: 0 when the board's outputs are inverted).
    int QueryModuleInfo(ULONG item, ULONG* value);

    // Module parameters: the module's 32-bit register file, shared with board scripts.
    ULONG GetModuleParam(ULONG number);
    int SetModuleParam(ULONG number, ULONG value);

    ULONG ReadInputPort(ULONG port);
    int WriteOutputPort(ULONG value, ULONG port);
    // Writes size (1, 2 or 4) bytes of value, little-endian, at offset of register block reg.
    int WriteModuleReg(ULONG reg, ULONG offset, ULONG size, ULONG value);
    ULONG ReadModuleReg(ULONG reg, ULONG offset, ULONG size);

    // Board bring-up.
    int SetModuleMode(ULONG mode, ULONG flags);
    int ConfigureModuleIo(ULONG a, ULONG b, ULONG c);
    int EnableModuleIo(ULONG enable, ULONG flags);
    // Switches the board's capture to the given camera of this module.
    int AttachCamera(CICamera* camera);

    // Statistics of a grab (of any camera of the station).
    int GetGrabStats(HGRAB grab, ORV_GRAB_STATS* stats);

    // I/O-module synchronization: 0 before asynchronous, 1 before synchronous acquisition.
    int SetSyncMode(ULONG mode, ULONG a, ULONG b);

    // Camera rules the module holds: the next rule after previous (null: the
    // first) whose name equals name (any case; null name: any rule).
    const ORV_CAMERA_RULE* GetNextRule(const char* name, const ORV_CAMERA_RULE* previous);

    // Saves the current parameters of every camera of the module as user set `set`.
    int SaveUserSet(const char* set, ULONG flags);

    // Configuration file the module was opened with ("" when none).
    const char* ConfigFile() const;

protected:
    explicit CICapMod(std::shared_ptr<kiru::sim::SimModule> sim, std::shared_ptr<kiru::gev::Device> device = nullptr);
    friend CICapMod* OrxCreateCaptureModule(const char* name, ULONG index, const char* configFile);

private:
    std::vector<std::unique_ptr<CICamera>> m_cameras;
    std::string m_configFile;
};
