#include "platform/process_guard.h"

#include <sys/prctl.h>

void HoldSecretsInProcess()
{
    // Not dumpable: no core file, and /proc/PID/mem and ptrace only for root.
    if (prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

bool SecretsHeldInProcess() { return prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) == 0; }
