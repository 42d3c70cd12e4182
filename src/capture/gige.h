// The capture module of a GigE Vision camera ("GEV"), with access to the
// camera's GenICam features by name.
#pragma once

#include "capture/module.h"

class CGige : public CICapMod {
public:
    // Sets a numeric feature ("AcquisitionStart", "TLParamsLocked", ...).
    int SetVal(const char* feature, double value, int a = 0, int b = 0);
    // Sets an enumeration feature to one of its entries ("AcquisitionMode" = "Continuous").
    int SetEnumVal(const char* feature, const char* entry, int a = 0, int b = 0);
    // Reads a numeric feature last set; 0 when it was never set.
    int GetVal(const char* feature, double* value);

private:
    using CICapMod::CICapMod;
    friend CICapMod* OrxCreateCaptureModule(const char* name, ULONG index, const char* configFile);
};
