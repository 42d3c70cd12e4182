// Tag-only back-ends: the common layer under another grab type.
#include <kiru/backends_tag.h>

#include <cstdio>

CIGrabQB1::CIGrabQB1() : m_private{0, 0, 0, 0} {
    m_rejectorDelay = 1500;
    SetHwSolutionIDNumBits(4);
}
CIGrabQB1::~CIGrabQB1() { CIGrab::Terminate(); }
IFW_IGRABTYPE CIGrabQB1::GetGrabType() { return IGRAB_QB1; }

CIGrabTalon::CIGrabTalon() : m_private{0, 0, 0, 0} {
    m_rejectorDelay = 1500;
    m_exposure = 512.0;
}
CIGrabTalon::~CIGrabTalon() { CIGrab::Terminate(); }
IFW_IGRABTYPE CIGrabTalon::GetGrabType() { return IGRAB_TALON; }

CIGrab1394::CIGrab1394() = default;
CIGrab1394::~CIGrab1394() {
    CIGrab::Destroy();
    CIGrab::Terminate();
}
IFW_IGRABTYPE CIGrab1394::GetGrabType() { return IGRAB_1394; }

// The marker path is formed with the native separator.
static const char kQb2eMarker[] = "/windows/sicam.txt";

CIGrabQB2E::CIGrabQB2E() : m_markerPresent(0) {
    m_rejectorDelay = 1500;
    SetHwSolutionIDNumBits(3);
    if (std::FILE* f = std::fopen(kQb2eMarker, "r")) {
        std::fclose(f);
        m_markerPresent = 1;
    }
}
CIGrabQB2E::~CIGrabQB2E() { CIGrab::Terminate(); }
IFW_IGRABTYPE CIGrabQB2E::GetGrabType() { return m_markerPresent ? IGRAB_QB2E_ALT : IGRAB_QB2E; }
