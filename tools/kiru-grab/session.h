// One acquisition run of kiru-grab.
#pragma once

#include "options.h"

// Opens a grab object, acquires as the options say, prints progress and a
// summary. Returns the process exit status.
int RunSession(const GrabOptions& options);
