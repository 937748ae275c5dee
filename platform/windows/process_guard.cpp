#include "platform/process_guard.h"

#include <windows.h>

#include <atomic>

namespace {
std::atomic<bool> g_held{false};
}  // namespace

void HoldSecretsInProcess()
{
    // No error report that could carry a copy of this process's memory away.
    ::SetErrorMode(::GetErrorMode() | SEM_NOGPFAULTERRORBOX);
    g_held = true;
}

bool SecretsHeldInProcess() { return g_held; }
