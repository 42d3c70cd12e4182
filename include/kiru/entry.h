// The library's two exported entry points.
#pragma once

#include <kiru/export.h>

class IXGrab;

// Turns a grab-type keyword into a grab object of the right back-end, falling
// back to the image-file emulator. The keyword buffer must be writable and at
// least 8 bytes long; it comes back empty unless it was empty already.
extern "C" KIRU_API IXGrab* KiruGrabInstantiate(char* keyword);

// Terminates and deletes a grab object; returns what Terminate returned, or 0
// for a null pointer.
extern "C" KIRU_API int KiruGrabDelete(IXGrab* grab);
