// Root of the capture library's object tree. Library objects are created by
// the library and deleted through this virtual destructor.
#pragma once

#include <kiru/export.h>

class KIRU_API CIobject {
public:
    CIobject() = default;
    CIobject(const CIobject&) = default;
    CIobject& operator=(const CIobject&) = default;
    virtual ~CIobject();
};
