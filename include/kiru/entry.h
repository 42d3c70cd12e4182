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

namespace kiru {

// Receives the factory's account of every KiruGrabInstantiate that follows:
// the keyword, each back-end it tried and why it was skipped, and what it
// returned. Process-wide; null removes the catcher. The catcher is called on
// the thread that calls KiruGrabInstantiate and its result is ignored.
KIRU_API void SetFactoryDbgCatcher(int (*catcher)(void* context, char* message), void* context);

}  // namespace kiru
