// The client's key/value storage object. The library writes and reads named
// values through it; every operation returns 0 on success.
#pragma once

#include <kiru/win_types.h>

class XiStorage {
public:
    virtual ~XiStorage() = default;
    virtual int SetDouble(const char* key, double value) = 0;
    virtual int SetFloat(const char* key, float value) = 0;
    virtual int SetULong(const char* key, ULONG value) = 0;
    virtual int GetDouble(const char* key, double* out, double def) = 0;
    virtual int GetFloat(const char* key, float* out, float def) = 0;
    virtual int GetULong(const char* key, ULONG* out, ULONG def) = 0;
};
