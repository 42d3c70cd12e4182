// Constructors of the hardware back-ends, as the factory sees them. A
// back-end that cannot be built (not in this library, or out of memory)
// yields null, which the factory treats as hardware that does not answer.
#pragma once

class IXGrab;

namespace kiru::backends {

IXGrab* CreateLX2();
IXGrab* CreateQB2();
IXGrab* CreateGev();

}  // namespace kiru::backends
