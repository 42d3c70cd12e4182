// Kiru: image acquisition for machine-vision inspection stations.
// This is the one header a client includes.
#pragma once

#include <kiru/export.h>
#include <kiru/win_types.h>
#include <kiru/ifw_types.h>
#include <kiru/xistorage.h>
#include <kiru/ciobject.h>
#include <kiru/scoped_handles.h>
#include <kiru/cios.h>
#include <kiru/ixgrab.h>
#include <kiru/cigrab.h>
#include <kiru/cigrab_emu.h>
#include <kiru/cigrab_gev.h>
#include <kiru/cigrab_lx2.h>
#include <kiru/cigrab_qb2.h>
#include <kiru/pulse_timers.h>
#include <kiru/backends_tag.h>
#include <kiru/entry.h>
