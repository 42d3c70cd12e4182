// Free functions of the capture library.
#pragma once

#include <kiru/win_types.h>

#include "capture/orv_types.h"

class CICapMod;

// Opens module `name` at `index` of the station; configFile (a module
// configuration file, may be null) is remembered. Null when the station has
// no such module, or when it is a GigE camera that does not answer. "GEV"
// gives a CGige, "RCS" a CRCS, every other name a CICapMod. A "GEV" slot
// bound to a real GigE Vision camera (docs/gige.md) opens that camera.
CICapMod* OrxCreateCaptureModule(const char* name, ULONG index, const char* configFile);

// Sets the library's console handler (null: none). Returns 1.
int OrxSetConsoleHandler(ORX_CONSOLE_HANDLER handler);
ORX_CONSOLE_HANDLER OrxGetConsoleHandler();

// Interface index of the host adapter that owns an IPv4 address (network
// order): a local interface of this machine, else the position (from 1) of
// the address among the host adapter addresses (text parameter 0x4014) of
// the station's GigE cameras; 0 when unknown.
ULONG OrxGetAdapterIndexFromIP(ULONG addressNetworkOrder);

// Demosaics an 8-bit Bayer image (ORV_BAYER layout) into blue-green-red
// pixels: 4 bytes per pixel for flags 4, 3 bytes for flags 5. gains (red,
// green, blue; null: 1.0 each) multiply the channels. Bilinear: the missing
// colours of a pixel are the means of the nearest samples of that colour;
// borders mirror the image. Returns 1, or 0 for bad arguments.
int OrxBayerFilterConvert(int reserved, ULONG pattern, void* dest, const void* source, ULONG width, ULONG height,
                          ULONG flags, const float* gains);

// Load-time check of the library build a unit was made against: 1 when the
// eight numbers match this library's, else 0.
int CheckOrvVersionResolution(ULONG a, ULONG b, ULONG c, ULONG d, ULONG e, ULONG f, ULONG g, ULONG h);

// The numbers CheckOrvVersionResolution expects.
extern const ULONG kOrvVersionResolution[8];
