// Exit statuses as the Windows runtime reports them: _pclose and _cwait give
// the child's exit code itself.
#pragma once

#define WIFEXITED(status) 1
#define WEXITSTATUS(status) (status)
