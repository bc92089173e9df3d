#include "platform/LastError.h"

namespace {
thread_local DWORD t_lastError = NO_ERROR;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }
