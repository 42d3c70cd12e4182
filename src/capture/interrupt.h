// Interrupt objects of cameras and interrupt-callback registrations of modules.
#pragma once

#include <kiru/ciobject.h>
#include <kiru/win_types.h>

#include <cstdint>
#include <memory>

namespace kiru::sim {
class SimModule;
}
namespace kiru::gev {
class Device;
}

// An auto-reset event signalled each time the camera raises its event
// (event 11: a frame has arrived). Deleting the object unregisters it.
class CInterrupt : public CIobject {
public:
    ~CInterrupt() override;
    HANDLE EventHandle() const { return m_event; }
    ULONG Event() const { return m_eventNumber; }

private:
    friend class CICamera;
    CInterrupt(std::shared_ptr<kiru::sim::SimModule> sim, ULONG channel, ULONG event, HANDLE handle,
               std::shared_ptr<kiru::gev::Device> device = nullptr);
    CInterrupt(const CInterrupt&) = delete;
    CInterrupt& operator=(const CInterrupt&) = delete;
    std::shared_ptr<kiru::sim::SimModule> m_sim;
    ULONG m_channel;
    ULONG m_eventNumber;
    HANDLE m_event;
    std::shared_ptr<kiru::gev::Device> m_device;  // a real camera signals the event
};

// A registered interrupt callback (CModule::CreateIntrCallback). Deleted
// through CModule::DeleteIntrCallback.
class CIntrCallback : public CIobject {
public:
    ULONG Event() const { return m_event; }

private:
    friend class CModule;
    ~CIntrCallback() override = default;
    CIntrCallback(std::uint64_t id, ULONG event) : m_id(id), m_event(event) {}
    CIntrCallback(const CIntrCallback&) = delete;
    CIntrCallback& operator=(const CIntrCallback&) = delete;
    std::uint64_t m_id;
    ULONG m_event;
};
