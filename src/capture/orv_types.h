// Records, handles and callback types of the capture and display libraries.
// Field layouts are ours; the fields the grab back-ends read are fixed here
// (and checked with static_assert where a byte offset matters).
#pragma once

#include <kiru/win_types.h>

#include <cstddef>
#include <cstdint>

class CICamera;
class CICapMod;

// One installed parent module as listed by CQMTMods. The name comes first:
// three characters at most and a terminating NUL.
struct _QMT_PARENT_MOD {
    char Name[4];
    ULONG Index;        // module index ("GEV" 0 to 7, "USB" 0 to 3, ...)
    ULONG ModuleInfo;   // the word GetModuleInfo reports
    ULONG Channels;     // number of camera or I/O channel objects
};

// Colour-format codes reported in ORV_CAM_ATTR::ColorFormat.
enum ORV_COLOR {
    ORV_COLOR_MONO8 = 0,
    ORV_COLOR_MONO16 = 1,
    ORV_COLOR_BGR32 = 4,   // 4-byte pixels: blue, green, red, unused
    ORV_COLOR_BGR24 = 5,   // 3-byte pixels: blue, green, red
    ORV_COLOR_PLANAR = 8,  // three 8-bit planes
    ORV_COLOR_RAW = 13,    // packed colour; parameter 57 = 4 repacks it as ORV_COLOR_BGR32
};

// Bayer layouts accepted by OrxBayerFilterConvert, named after the first two
// pixels of the first row.
enum ORV_BAYER {
    ORV_BAYER_RG = 1,
    ORV_BAYER_GR = 2,
    ORV_BAYER_GB = 3,
    ORV_BAYER_BG = 4,
};

// OrxBayerFilterConvert output flags.
enum { ORV_BAYER_OUT_BGR32 = 4, ORV_BAYER_OUT_BGR24 = 5 };

// Camera attributes (GetAttr): 27 32-bit words in all.
struct ORV_CAM_ATTR {
    ULONG Width;
    ULONG Height;
    ULONG BytesPerPixel;
    ULONG BitsPerPixel;
    ULONG ColorFormat;   // ORV_COLOR
    char CameraFile[88]; // camera-file (rule) name of the channel, may be empty
};
static_assert(sizeof(ORV_CAM_ATTR) == 27 * 4, "camera attribute record is 27 words");

// Capability record of one numbered parameter (GetParamCaps).
struct ORV_PARAM_CAPS {
    double Min;
    double Max;
    double Step;
    ULONG Flags;  // bit 0: the parameter holds a text
    ULONG Reserved;
};

// Extended attributes of one delivered frame (GrabWaitFrame).
struct GRAB_EXT_ATTR {
    double ArrivalTime;  // microseconds on the library's monotonic clock
    double FrameTime;    // the same instant, as reported by parameter 80 for the buffer
    ULONG BufferIndex;
    ULONG Reserved;
    ULONG FrameNumber;   // 1 for the first frame the grab produced, lost frames included
    ULONG LostFrames;    // frames lost by this grab so far
    ULONG Width;
    ULONG Height;
};
static_assert(offsetof(GRAB_EXT_ATTR, ArrivalTime) == 0, "arrival time is the first field");
static_assert(offsetof(GRAB_EXT_ATTR, FrameNumber) == 24, "frame number is the 32-bit field at byte 24");

// Grab statistics (CICapMod::GetGrabStats).
struct ORV_GRAB_STATS {
    ULONG FramesAcquired;  // frames written into a buffer
    ULONG FramesLost;      // frames that found every buffer held
    ULONG FramesWaiting;   // filled buffers not yet taken by GrabWaitFrame
    ULONG BuffersLocked;   // buffers taken and not yet released
};
static_assert(offsetof(ORV_GRAB_STATS, FramesLost) == 4, "lost-frame counter is the second field");

// Serial port of a board channel (GetPortInfo): the text begins with the
// device name, e.g. "COM3".
struct ORV_PORT_INFO {
    char DeviceName[64];
    ULONG Channel;
    ULONG Reserved;
};

// A camera rule held by a board module (CICapMod::GetNextRule).
struct ORV_CAMERA_RULE {
    char Name[88];
    ULONG Index;
};

// PLC data-change record handed to a data-in change callback. The third
// 64-bit word is the changed value.
struct RCS_DATAIN_CB_RECORD {
    std::uint64_t Offset;  // byte offset of the watched data in the PLC input area
    std::uint64_t Size;    // watched size in bytes (1, 2, 4 or 8)
    std::uint64_t Value;   // new value, little-endian over Size bytes
    std::uint64_t TimeUs;  // time of the change on the library's monotonic clock
};
static_assert(offsetof(RCS_DATAIN_CB_RECORD, Value) == 16, "value is the third 64-bit word");

// PLC role numbers reported by CRCS::GetPlcType.
enum RCS_PLC_TYPE { RCS_PLC_NONE = 0, RCS_PLC_SCANNER = 1, RCS_PLC_ADAPTER = 2 };

// Opaque handles.
struct OrvGrabTag;
typedef OrvGrabTag* HGRAB;
struct OrvPulseGenTag;
typedef OrvPulseGenTag* HPULSEGEN;
struct OrvDataInTag;
typedef OrvDataInTag* HDATAIN;

// Interrupt callback: runs on a library thread each time its event fires.
typedef void (*ORX_INTR_FUNC)(void* context);
// PLC data-in change callback: runs on a library thread.
typedef void (*RCS_DATAIN_FUNC)(RCS_DATAIN_CB_RECORD* record, void* context);
// Console handler of the capture library (null: none).
typedef int (*ORX_CONSOLE_HANDLER)(const char* text);

// Entry points looked up by name in "orv21.dll" (GetProcAddress).
typedef int (*PFN_OrxGigeOpen)();
typedef int (*PFN_OrxGigeClose)(int, int);
typedef int (*PFN_QbmAdvancedIOStart)(CICapMod* module);
typedef int (*PFN_QbmAdvancedIOStop)(CICapMod* module);
typedef int (*PFN_QbmAdvancedIOEnqueueDecision)(CICapMod* module, ULONG decision);

// Event numbers the simulated hardware raises by itself.
enum { ORV_EVENT_FRAME = 11 };

// Address of the "camera reachable" register and of the synchronized-start
// register used by grabs started with flag 0x80.
enum : ULONG { ORV_REG_REACHABLE = 0x0A00, ORV_REG_SYNC_START = 0x100000A8 };

// Module number that addresses the script's own module in CVixn::ReadReg/WriteReg.
enum : ULONG { VIXN_OWN_MODULE = 65535 };
