// The capture and display library contract: everything the grab back-ends
// may use. The simulated station behind it is driven through
// <kiru/station.h> by tests and tools only.
#pragma once

#include <kiru/ciobject.h>

#include "capture/camera.h"
#include "capture/entry_points.h"
#include "capture/gige.h"
#include "capture/imgconn.h"
#include "capture/interrupt.h"
#include "capture/module.h"
#include "capture/orv_types.h"
#include "capture/orvos.h"
#include "capture/orx.h"
#include "capture/qmtmods.h"
#include "capture/rcs.h"
#include "capture/vixn.h"
