// What a GigE object owns for its lines beyond plain fields: the input-active
// callback nodes and the "QBM" board's pulse timers. Held through a shared
// pointer so that copies of the object share them and the last copy frees
// them (after Terminate has deleted the modules and their callbacks).
#pragma once

#include <kiru/cigrab_gev.h>
#include <kiru/pulse_timers.h>

struct CIGrabGev::LineResources {
    InputActiveNode* nodes = nullptr;
    CQB2PulseTimer* timers[8] = {};

    LineResources() = default;
    LineResources(const LineResources&) = delete;
    LineResources& operator=(const LineResources&) = delete;
    ~LineResources() {
        for (CQB2PulseTimer*& timer : timers) delete timer;
        while (nodes != nullptr) {
            InputActiveNode* next = nodes->next;
            delete nodes;
            nodes = next;
        }
    }
};
