// The "RCS" I/O controller: pulse generators on its output lines and its
// PLC link.
//
// Pulse generators: a unit drives one output line; SetPulseGenTime fires
// one pulse at an absolute time on the library clock (microseconds). The
// duration counts microseconds for time reference 0 and nanoseconds for
// time reference 1.
//
// PLC data: an input area and an output area of 4096 bytes each. The two
// leading numbers of the data operations are the byte offset in the area
// and the number of elements (bytes, floats, 16-bit or 32-bit words);
// an access past the area's end fails.
#pragma once

#include "capture/module.h"

class CRCS : public CICapMod {
public:
    // Removes the data-in callbacks and camera triggers this object made
    // (a running callback is waited for).
    ~CRCS() override;

    HPULSEGEN CreatePulseGenUnitEx(ULONG line, ULONG duration, ULONG level, ULONG timeRef, ULONG offset);
    int SetPulseGenDurationEx(HPULSEGEN unit, ULONG duration, ULONG level, ULONG offset);
    int DeletePulseGenUnit(HPULSEGEN unit);
    // Time reference of the unit; 0xFFFFFFFF for an unknown handle.
    ULONG GetPulseGenType(HPULSEGEN unit);
    int SetPulseGenTime(HPULSEGEN unit, double timeUs, ULONG flags);

    int PlcGetInputs(ULONG offset, ULONG count, unsigned char* data);
    int PlcGetInputsFloat(ULONG offset, ULONG count, float* data);
    int PlcGetInputsSigned16(ULONG offset, ULONG count, unsigned short* data);
    int PlcGetInputsSigned32(ULONG offset, ULONG count, ULONG* data);
    int PlcSetOutputs(ULONG offset, ULONG count, unsigned char* data);
    int PlcSetOutputsFloat(ULONG offset, ULONG count, float* data);
    int PlcSetOutputsSigned16(ULONG offset, ULONG count, unsigned short* data);
    int PlcSetOutputsSigned32(ULONG offset, ULONG count, ULONG* data);
    int PlcGetIPAddress(ULONG* address, ULONG* mask, char* name);
    int PlcSetIPAddress(ULONG address, ULONG mask, ULONG gateway, char* name);
    int PlcGetMACAddress(unsigned char* mac);
    // RCS_PLC_TYPE of the link.
    ULONG GetPlcType();

    // Calls fn on a library thread whenever the size bytes (1, 2, 4 or 8) at
    // offset of the PLC input area change; mode is kept. Null on bad arguments.
    HDATAIN AddDataInChangeCallback(ULONG offset, ULONG size, ULONG mode, RCS_DATAIN_FUNC fn, void* context);
    int DelDataInChangeCallback(HDATAIN handle);
    // Triggers GigE camera `camera` ("GEV" module index) on each rising edge
    // of bit `bit` of the PLC input byte at offset.
    HDATAIN AddDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera);
    int DelDataInChangeCamTrigger(ULONG offset, int bit, ULONG camera);

private:
    using CICapMod::CICapMod;
    friend CICapMod* OrxCreateCaptureModule(const char* name, ULONG index, const char* configFile);
    int PlcRead(ULONG offset, ULONG bytes, void* data);
    int PlcWrite(const char* operation, ULONG offset, ULONG count, ULONG elementSize, const void* data);
};
