// Entry points of "orv21.dll" that callers look up by name at run time.
#pragma once

#include <kiru/win_types.h>

class CICapMod;

// Opens and closes the library's GigE transport.
int OrxGigeOpen();
int OrxGigeClose(int a, int b);

// The "QBM" board's decision output queue: decision 0 pass, 1 fail,
// 2 recycle. Decisions queued after Start are released on the board clock,
// camera parameter 16403 (milliseconds) after they were queued.
int QbmAdvancedIOStart(CICapMod* module);
int QbmAdvancedIOStop(CICapMod* module);
int QbmAdvancedIOEnqueueDecision(CICapMod* module, ULONG decision);

// The entry point with that (undecorated) name, or null when the library
// has none or the station made it absent. Used by the platform's
// GetProcAddress for "orv21.dll", which this file registers as a built-in
// library.
void* OrvLookupEntryPoint(const char* name);
