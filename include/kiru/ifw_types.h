// Records, enumerations and callback types shared between Kiru and its clients.
#pragma once

#include <cstdint>
#include <kiru/win_types.h>

// Grab-type numbers reported by GetGrabType().
enum IFW_IGRABTYPE {
    IGRAB_LX2 = 0,
    IGRAB_QB1 = 1,
    IGRAB_TALON = 2,
    IGRAB_EMULATOR = 3,
    IGRAB_1394 = 4,
    IGRAB_QB2 = 5,
    IGRAB_QB2E = 6,
    IGRAB_QB2E_ALT = 7,
    IGRAB_GEV = 8,
    IGRAB_COMMON = 13
};

// Pixel layout of a frame. 3: 4 bytes per pixel; 4: 3 bytes per pixel;
// 2: three 8-bit planes (one per camera slot); anything else: 1 byte.
enum IFW_IMAGE_COLOR_TYPE {
    IFW_COLOR_MONO = 0,
    IFW_COLOR_MONO_ALT = 1,
    IFW_COLOR_PLANAR = 2,
    IFW_COLOR_RGB32 = 3,
    IFW_COLOR_RGB24 = 4
};

enum IFW_IMG_TRANSFORM_TYPE {
    IFW_TRANSFORM_NONE = 0,
    IFW_TRANSFORM_MIRROR = 1,  // reverse each row
    IFW_TRANSFORM_FLIP = 2     // reverse the row order
};

// Region of the sensor the emulator and the GigE back-end reduce the frame to.
enum IFW_IMG_REGION_TYPE {
    IFW_REGION_FULL = 0,
    IFW_REGION_HALF_HEIGHT = 1,
    IFW_REGION_HALF = 2,
    IFW_REGION_QUARTER_HEIGHT = 3,
    IFW_REGION_XGA = 4
};

enum IFW_EMULATOR_IMAGETYPE {
    IFW_EMU_IMAGE_ORDINARY = 0,
    IFW_EMU_IMAGE_PATTERN = 1,
    IFW_EMU_IMAGE_CALIBRATION = 2
};

enum IFW_DECISION_OUTPUT_TYPE {
    IFW_DECISION_PASS = 0,
    IFW_DECISION_FAIL = 1,
    IFW_DECISION_RECYCLE = 2
};

// Kinds of serial port a back-end can name a COM port number for.
enum IFW_COMPORT_KIND {
    IFW_COMPORT_KIND_0 = 0,
    IFW_COMPORT_KIND_1 = 1,
    IFW_COMPORT_KIND_100 = 100,
    IFW_COMPORT_KIND_101 = 101
};

enum IFW_ACQ_EVENT_TYPE {
    IFW_ACQ_EVENT_CAMERA_LOST = 0,
    IFW_ACQ_EVENT_CAMERA_REOPENED = 1
};

// PLC roles a controller may support.
enum IFW_COMM_ROLE_TYPE {
    IFW_COMM_ROLE_NONE = 0,
    IFW_COMM_ROLE_9 = 9,
    IFW_COMM_ROLE_18 = 18
};

// What drives an output line.
enum IFW_GPO_DRIVER {
    IFW_GPO_DRIVER_PLAIN = 0,
    IFW_GPO_DRIVER_PASS_QUEUED = 1,
    IFW_GPO_DRIVER_RECYCLE_QUEUED = 2,
    IFW_GPO_DRIVER_FAIL_QUEUED = 3,
    IFW_GPO_DRIVER_STROBE = 4,
    IFW_GPO_DRIVER_PULSE_QUEUED = 5,
    IFW_GPO_DRIVER_PASS_IMMEDIATE = 6,
    IFW_GPO_DRIVER_FAIL_IMMEDIATE = 7,
    IFW_GPO_DRIVER_RECYCLE_IMMEDIATE = 8
};

struct IFW_CAM_ATTR {
    ULONG width;
    ULONG height;
    ULONG bytesPerPixel;
    ULONG bitsPerPixel;
    ULONG colorCode;
};

struct IFW_GPI_CONFIG {
    ULONG Polarity;
    ULONG Debounce;
    ULONG State;
    float Threshold;
    ULONG Options;
};

struct IFW_GPO_CONFIG {
    ULONG Polarity;
    ULONG Offset;
    ULONG Duration;
    IFW_GPO_DRIVER Driver;
    ULONG initVal;
};

struct IFW_GRAB_BUF_DESC {
    unsigned char* image;
    ULONG camera;
    ULONG reserved;
};

struct IFW_RECT {
    ULONG x;
    ULONG y;
    ULONG width;
    ULONG height;
};

struct IFW_GPIO_INPUT_ATTR {
    ULONG flags;
    ULONG debounceLimit;
    float thresholdLimit;
    char name[16];
};

struct IFW_GPIO_OUTPUT_ATTR {
    ULONG flags;
    ULONG limit1;
    ULONG limit2;
    ULONG limit3;
    char name[16];
};

struct IFW_GPIO_ATTR {
    ULONG extraInputs;
    ULONG numInputs;
    ULONG extraOutputs;
    ULONG numOutputs;
    ULONG platformTagA;
    ULONG platformTagB;
    ULONG solutionBits;
    IFW_GPIO_INPUT_ATTR inputs[32];
    IFW_GPIO_OUTPUT_ATTR outputs[32];
};

struct IFW_FILE_DATA_CB_RECORD {
    ULONG first;
    ULONG second;
    ULONG third;
    std::int64_t value;
};

// Fixed-point locations for calibration; opaque to the common layer.
struct IFW_FPV_DEF {
    ULONG count;
    ULONG x[16];
    ULONG y[16];
};

// Callback types.
typedef int (*IFW_BUFFER_CALLBACK)(unsigned char* image, unsigned int frame, std::int64_t stamp, void* context);
typedef int (*IFW_BUFFER_EX_CALLBACK)(IFW_GRAB_BUF_DESC* desc, unsigned int frame, std::int64_t stamp, void* context);
typedef int (*IFW_ACQ_EXIT_CALLBACK)(void* context);
typedef int (*IFW_DBG_CATCHER)(void* context, char* message);
typedef int (*IFW_ACQ_EVENT_CALLBACK)(void* context, IFW_ACQ_EVENT_TYPE event, ULONG value);
typedef int (*IFW_INPUT_ACTIVE_CALLBACK)(unsigned int input, void* context);
typedef void (*IFW_FILE_CHANGE_CALLBACK)(IFW_FILE_DATA_CB_RECORD* record, void* context);
