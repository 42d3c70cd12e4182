// Back-ends that only tag the common layer with their grab type.
#pragma once

#include <kiru/cigrab.h>

class KIRU_API CIGrabQB1 : public CIGrab {
public:
    CIGrabQB1();
    CIGrabQB1(const CIGrabQB1&) = default;
    CIGrabQB1& operator=(const CIGrabQB1&) = default;
    ~CIGrabQB1() override;
    IFW_IGRABTYPE GetGrabType() override;

private:
    ULONG m_private[4];
};

class KIRU_API CIGrabTalon : public CIGrab {
public:
    CIGrabTalon();
    CIGrabTalon(const CIGrabTalon&) = default;
    CIGrabTalon& operator=(const CIGrabTalon&) = default;
    ~CIGrabTalon() override;
    IFW_IGRABTYPE GetGrabType() override;

private:
    ULONG m_private[4];
};

class KIRU_API CIGrab1394 : public CIGrab {
public:
    CIGrab1394();
    CIGrab1394(const CIGrab1394&) = default;
    CIGrab1394& operator=(const CIGrab1394&) = default;
    ~CIGrab1394() override;
    IFW_IGRABTYPE GetGrabType() override;
};

// The QB2E appliance variant: settings are held and validated like the common
// layer; its grab type tells whether the appliance's marker file was present
// when the object was built.
class KIRU_API CIGrabQB2E : public CIGrab {
public:
    CIGrabQB2E();
    CIGrabQB2E(const CIGrabQB2E&) = default;
    CIGrabQB2E& operator=(const CIGrabQB2E&) = default;
    ~CIGrabQB2E() override;
    IFW_IGRABTYPE GetGrabType() override;

private:
    ULONG m_markerPresent;
};
