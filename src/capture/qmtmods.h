// Walk over the installed parent modules, in the station's order.
#pragma once

#include <kiru/ciobject.h>

#include <vector>

#include "capture/orv_types.h"

class CQMTMods : public CIobject {
public:
    CQMTMods() = default;
    // First module (the list is taken afresh), or null when there is none.
    _QMT_PARENT_MOD* GetFirst();
    // Next module, or null at the end.
    _QMT_PARENT_MOD* GetNext();

private:
    std::vector<_QMT_PARENT_MOD> m_modules;
    std::size_t m_next = 0;
};
