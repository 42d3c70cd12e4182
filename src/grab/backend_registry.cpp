// The hardware back-ends the factory can create. The LX2, QB2 and GigE
// back-ends are not part of the library yet; until each arrives, its entry
// answers null and the factory falls back to the emulator.
#include "grab/backend_registry.h"

namespace kiru::backends {

IXGrab* CreateLX2() { return nullptr; }
IXGrab* CreateQB2() { return nullptr; }
IXGrab* CreateGev() { return nullptr; }

}  // namespace kiru::backends
